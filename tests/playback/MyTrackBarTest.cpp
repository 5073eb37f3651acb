#include <gtest/gtest.h>

#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <string>
#include <vector>

#include "playback/MyTrackBar.h"
#include "tests/playback/QtTestApp.h"

namespace klarwell {
namespace {

// Exposes where the thumb is drawn.
class TProbeBar : public TMyTrackBar {
 public:
  using TMyTrackBar::TMyTrackBar;
  QRect Thumb() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
  }
};

// Records the slider's events in order, with the value each one saw.
struct TLog {
  std::vector<std::string> Events;
  void Attach(TProbeBar& bar) {
    QObject::connect(&bar, &QSlider::valueChanged,
                     [this](int v) { Events.push_back("change " + std::to_string(v)); });
    bar.OnTrack = [this, &bar] { Events.push_back("track " + std::to_string(bar.value())); };
    bar.OnEndTrack = [this, &bar] { Events.push_back("end " + std::to_string(bar.value())); };
  }
};

// Catches OnTrack before the position is updated, a missing OnEndTrack, or track events from a
// click in the channel, for both orientations.
TEST(MyTrackBar, DragFiresTrackAfterEachChangeAndEndTrackOnce) {
  test::EnsureQtApp();
  for (Qt::Orientation orientation : {Qt::Horizontal, Qt::Vertical}) {
    SCOPED_TRACE(orientation == Qt::Horizontal ? "horizontal" : "vertical");
    TProbeBar bar(orientation);
    bar.setRange(0, 100);
    bar.setPageStep(10);
    bar.resize(orientation == Qt::Horizontal ? QSize(220, 30) : QSize(30, 220));
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    TLog log;
    log.Attach(bar);

    const QPoint start = bar.Thumb().center();
    const QPoint stepDir = orientation == Qt::Horizontal ? QPoint(20, 0) : QPoint(0, -20);
    QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, start);
    QTest::mouseMove(&bar, start + stepDir);
    QTest::mouseMove(&bar, start + stepDir * 2);
    QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, start + stepDir * 2);
    ASSERT_EQ(log.Events.size(), 5u);
    for (int i : {0, 2}) {
      ASSERT_EQ(log.Events[i].substr(0, 7), "change ");
      EXPECT_EQ(log.Events[i + 1], "track " + log.Events[i].substr(7));
    }
    EXPECT_EQ(log.Events[4], "end " + std::to_string(bar.value()));
    EXPECT_GT(bar.value(), 0);

    // A click in the channel away from the thumb pages: a change only.
    log.Events.clear();
    const QRect thumb = bar.Thumb();
    const QPoint beside = orientation == Qt::Horizontal ? QPoint(bar.width() - 3, thumb.center().y())
                                                        : QPoint(thumb.center().x(), 3);
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, beside);
    ASSERT_FALSE(log.Events.empty());
    for (const std::string& e : log.Events) EXPECT_EQ(e.substr(0, 7), "change ");

    // Keys change the value only.
    log.Events.clear();
    QTest::keyClick(&bar, Qt::Key_Home);
    ASSERT_EQ(log.Events.size(), 1u);
    EXPECT_EQ(log.Events[0], "change 0");
  }
}

}  // namespace
}  // namespace klarwell
