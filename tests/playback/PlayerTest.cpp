#include <gtest/gtest.h>

#include <QImage>
#include <QPalette>
#include <QTest>
#include <vector>

#include "playback/Player.h"
#include "playback/PlayerGlyphs.h"
#include "tests/playback/QtTestApp.h"

namespace klarwell {
namespace {

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureQtApp();
    Bar = std::make_unique<TPlayer>();
    Bar->SetVisibleButtons({btPlay, btPauseDown, btStop, btAutoNext});
    Bar->resize(113, 24);
    Bar->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Bar.get()));
    Bar->OnClick = [this](TPlayer* sender, TMPBtnType button, bool& doDefault) {
      EXPECT_EQ(sender, Bar.get());
      EXPECT_TRUE(doDefault);
      Clicks.push_back(button);
    };
  }

  QPoint Centre(TMPBtnType button) const { return Bar->ButtonRect(button).center(); }

  std::unique_ptr<TPlayer> Bar;
  std::vector<TMPBtnType> Clicks;
};

// Catches a layout that does not share borders, ignores the minimum or drops the height floor.
TEST_F(PlayerTest, LayoutFromWidthAndButtonCount) {
  EXPECT_EQ(Bar->MinButtonWidth(), 29);
  EXPECT_EQ(Bar->MinButtonHeight(), 20);
  EXPECT_EQ(Bar->ButtonWidth(), 29);
  EXPECT_EQ(Bar->width(), 113);
  EXPECT_EQ(Bar->height(), 24);
  EXPECT_EQ(Bar->ButtonRect(btStop), QRect(56, 0, 29, 24));
  EXPECT_TRUE(Bar->ButtonRect(btNext).isNull());

  struct {
    int Width, Height;
    int ButtonWidth, NewWidth, NewHeight;
  } const cases[] = {
      {113, 24, 29, 113, 24},  // (113 - 1) div 4 + 1 = 29; 4 x 28 + 1 = 113
      {200, 30, 50, 197, 30},  // 199 div 4 + 1 = 50; 4 x 49 + 1 = 197
      {60, 10, 29, 113, 20},   // below the minimum button and height
      {114, 24, 29, 113, 24},
  };
  for (const auto& c : cases) {
    Bar->resize(c.Width, c.Height);
    EXPECT_EQ(Bar->ButtonWidth(), c.ButtonWidth) << c.Width;
    EXPECT_EQ(Bar->width(), c.NewWidth) << c.Width;
    EXPECT_EQ(Bar->height(), c.NewHeight) << c.Width;
  }

  // Changing the visible buttons keeps the button width and fits the bar to the new count.
  Bar->resize(113, 24);
  Bar->SetVisibleButtons({btPlay, btStop});
  EXPECT_EQ(Bar->width(), 57);
  EXPECT_EQ(Bar->ButtonWidth(), 29);

  // While the window is built the width decides the button width instead.
  Bar->BeginUpdate();
  Bar->resize(229, 24);
  Bar->SetVisibleButtons({btPlay, btPauseDown, btStop, btAutoNext});
  EXPECT_EQ(Bar->ButtonWidth(), 58);
  Bar->EndUpdate();
  EXPECT_EQ(Bar->width(), 229);
}

TEST_F(PlayerTest, ClickOnAnEnabledButtonFiresOnce) {
  QTest::mouseClick(Bar.get(), Qt::LeftButton, Qt::NoModifier, Centre(btStop));
  EXPECT_EQ(Clicks, std::vector<TMPBtnType>{btStop});
  EXPECT_EQ(Bar->FocusedButton(), btStop);
  EXPECT_FALSE(Bar->IsButtonDrawnPressed(btStop));
}

// Catches events from disabled buttons or from the empty area beside the buttons.
TEST_F(PlayerTest, DisabledButtonOrEmptyAreaDoesNothing) {
  Bar->SetEnabledButtons({btPlay, btAutoNext});
  QTest::mouseClick(Bar.get(), Qt::LeftButton, Qt::NoModifier, Centre(btPauseDown));
  EXPECT_TRUE(Clicks.empty());
  EXPECT_FALSE(Bar->IsButtonDown(btPauseDown));
  EXPECT_FALSE(Bar->IsButtonDrawnPressed(btPauseDown));

  // The bar always fits its buttons; only a press right of its last pixel hits none.
  QTest::mouseClick(Bar.get(), Qt::LeftButton, Qt::NoModifier, QPoint(Bar->width() + 5, 5));
  EXPECT_TRUE(Clicks.empty());
}

// Catches a click fired when the mouse was released off the button, or a toggle that only flips on
// a completed click.
TEST_F(PlayerTest, PressMoveOffReleaseOnPauseFiresNothingButToggles) {
  QTest::mousePress(Bar.get(), Qt::LeftButton, Qt::NoModifier, Centre(btPauseDown));
  EXPECT_TRUE(Bar->IsButtonDown(btPauseDown));
  EXPECT_TRUE(Bar->IsButtonDrawnPressed(btPauseDown));
  QTest::mouseMove(Bar.get(), Centre(btPlay));
  QTest::mouseRelease(Bar.get(), Qt::LeftButton, Qt::NoModifier, Centre(btPlay));
  EXPECT_TRUE(Clicks.empty());
  EXPECT_TRUE(Bar->IsButtonDown(btPauseDown));

  // A plain button pressed, moved off and back on still fires.
  QTest::mousePress(Bar.get(), Qt::LeftButton, Qt::NoModifier, Centre(btPlay));
  QTest::mouseMove(Bar.get(), QPoint(Centre(btPlay).x(), 60));
  EXPECT_FALSE(Bar->IsButtonDrawnPressed(btPlay));
  QTest::mouseMove(Bar.get(), Centre(btPlay));
  EXPECT_TRUE(Bar->IsButtonDrawnPressed(btPlay));
  QTest::mouseRelease(Bar.get(), Qt::LeftButton, Qt::NoModifier, Centre(btPlay));
  EXPECT_EQ(Clicks, std::vector<TMPBtnType>{btPlay});
}

// Catches a toggle that fires without being released, or stays drawn pressed once it is up again.
TEST_F(PlayerTest, TogglesFireAndShowTheirDownState) {
  QTest::mouseClick(Bar.get(), Qt::LeftButton, Qt::NoModifier, Centre(btAutoNext));
  EXPECT_EQ(Clicks, std::vector<TMPBtnType>{btAutoNext});
  EXPECT_TRUE(Bar->IsButtonDown(btAutoNext));
  EXPECT_TRUE(Bar->IsButtonDrawnPressed(btAutoNext));

  // Pressing the down auto-next button releases it and fires.
  QTest::mouseClick(Bar.get(), Qt::LeftButton, Qt::NoModifier, Centre(btAutoNext));
  EXPECT_EQ(Clicks, (std::vector<TMPBtnType>{btAutoNext, btAutoNext}));
  EXPECT_FALSE(Bar->IsButtonDown(btAutoNext));
  EXPECT_FALSE(Bar->IsButtonDrawnPressed(btAutoNext));

  // Pause clicked down, then released by the player (end of playback): drawn raised again.
  QTest::mouseClick(Bar.get(), Qt::LeftButton, Qt::NoModifier, Centre(btPauseDown));
  EXPECT_TRUE(Bar->IsButtonDrawnPressed(btPauseDown));
  Bar->SetButtonDown(btPauseDown, false);
  EXPECT_FALSE(Bar->IsButtonDrawnPressed(btPauseDown));
}

// A double click counts as a second press, as on the platform's buttons.
TEST_F(PlayerTest, DoubleClickIsASecondPress) {
  // The window system's sequence: press, release, double click, release.
  QTest::mouseClick(Bar.get(), Qt::LeftButton, Qt::NoModifier, Centre(btPlay));
  QTest::mouseDClick(Bar.get(), Qt::LeftButton, Qt::NoModifier, Centre(btPlay));
  QTest::mouseRelease(Bar.get(), Qt::LeftButton, Qt::NoModifier, Centre(btPlay));
  EXPECT_EQ(Clicks, (std::vector<TMPBtnType>{btPlay, btPlay}));
}

// Catches the pressed and raised bevels swapped: the shadow line runs along the top when pressed.
TEST_F(PlayerTest, PressedButtonIsDrawnSunken) {
  const QRgb shadow = Bar->palette().color(QPalette::Dark).rgb();
  const QRgb light = Bar->palette().color(QPalette::Light).rgb();
  const QRect r = Bar->ButtonRect(btStop);
  auto topLine = [&] { return Bar->grab().toImage().pixel(r.x() + 5, 1); };
  EXPECT_EQ(topLine(), light);
  QTest::mousePress(Bar.get(), Qt::LeftButton, Qt::NoModifier, r.center());
  EXPECT_EQ(topLine(), shadow);
  QTest::mouseRelease(Bar.get(), Qt::LeftButton, Qt::NoModifier, r.center());
  EXPECT_EQ(topLine(), light);
}

TEST(PlayerGlyphs, EveryGlyphInItsSizeAndThreeLooks) {
  for (const char* name : {"MPPLAY", "MPPAUSE", "MPSTOP", "MPNEXT", "MPPREV", "MPSTEP", "MPBACK", "MPRECORD",
                           "MPEJECT", "MPHELP"}) {
    SCOPED_TRACE(name);
    test::EnsureQtApp();
    const QImage enabled = MakePlayerGlyph(name, TGlyphVariant::Enabled).toImage();
    const QImage disabled = MakePlayerGlyph(name, TGlyphVariant::Disabled).toImage();
    const QImage colored = MakePlayerGlyph(name, TGlyphVariant::Colored).toImage();
    EXPECT_GE(enabled.width(), 13);
    EXPECT_LE(enabled.width(), 21);
    EXPECT_GE(enabled.height(), 13);
    EXPECT_LE(enabled.height(), 16);
    EXPECT_EQ(disabled.size(), enabled.size());
    EXPECT_EQ(colored.size(), enabled.size());
    EXPECT_NE(enabled, disabled);
    EXPECT_NE(enabled, colored);
    EXPECT_EQ(enabled.pixelColor(0, 0).alpha(), 0);  // transparent background
  }
  EXPECT_TRUE(MakePlayerGlyph("MPNONE", TGlyphVariant::Enabled).isNull());
}

}  // namespace
}  // namespace klarwell
