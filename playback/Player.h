#pragma once

#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>

namespace klarwell {

// The transport button kinds, in their fixed order (values 0..11).
enum TMPBtnType : uint8_t {
  btPlay,
  btPause,
  btPauseDown,
  btStop,
  btNext,
  btPrev,
  btStep,
  btBack,
  btRecord,
  btEject,
  btHelp,
  btAutoNext,
};
constexpr int MPBtnCount = 12;

// A set of button kinds, one bit per kind (all twelve = 0xFFF).
class TButtonSet {
 public:
  constexpr TButtonSet() = default;
  constexpr TButtonSet(std::initializer_list<TMPBtnType> buttons) {
    for (TMPBtnType b : buttons) Bits |= Bit(b);
  }
  static constexpr TButtonSet FromBits(uint16_t bits) {
    TButtonSet s;
    s.Bits = bits & 0xFFF;
    return s;
  }
  static constexpr TButtonSet All() { return FromBits(0xFFF); }

  constexpr bool Contains(TMPBtnType b) const { return (Bits & Bit(b)) != 0; }
  constexpr uint16_t ToBits() const { return Bits; }
  constexpr bool operator==(const TButtonSet& other) const = default;

 private:
  static constexpr uint16_t Bit(TMPBtnType b) { return static_cast<uint16_t>(1u << b); }
  uint16_t Bits = 0;
};

// The transport bar: a row of glyph buttons sharing their one-pixel borders. A completed click on an
// enabled button (pressed and released over it) fires OnClick. btPauseDown and btAutoNext are
// toggles: a press inverts their down flag, and they stay drawn pressed while down.
// No keyboard operation. Main thread only.
class TPlayer : public QWidget {
 public:
  explicit TPlayer(QWidget* parent = nullptr);

  TButtonSet ColoredButtons() const { return Colored; }
  TButtonSet EnabledButtons() const { return EnabledSet; }
  TButtonSet VisibleButtons() const { return VisibleSet; }
  void SetColoredButtons(TButtonSet buttons);
  void SetEnabledButtons(TButtonSet buttons);
  // Also resizes the bar to the new button count (see the .cpp).
  void SetVisibleButtons(TButtonSet buttons);

  bool IsButtonDown(TMPBtnType button) const { return Buttons[button].Down; }
  void SetButtonDown(TMPBtnType button, bool down);

  // The hint shown over the bar (its tool tip).
  QString Hint() const { return toolTip(); }
  void SetHint(const QString& hint) { setToolTip(hint); }

  // Between BeginUpdate and EndUpdate (while the window is being built) size changes do not relayout;
  // EndUpdate fits the width to the visible buttons.
  void BeginUpdate() { Updating = true; }
  void EndUpdate();

  // Layout, for the window and for tests.
  int ButtonWidth() const { return BtnWidth; }
  int MinButtonWidth() const { return MinBtnWidth; }
  int MinButtonHeight() const { return MinBtnHeight; }
  int FocusedButton() const { return FocusedIndex; }
  // The span of a visible button, x .. x + ButtonWidth() by the full height; empty when hidden.
  QRect ButtonRect(TMPBtnType button) const;
  // Whether the button is drawn pressed now (held under the mouse, or a toggle that is down).
  bool IsButtonDrawnPressed(TMPBtnType button) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

  // Events. DoDefault is preset to true; the bar ignores it afterwards.
  std::function<void(TPlayer* sender, TMPBtnType button, bool& doDefault)> OnClick;
  std::function<void()> OnEnter;
  std::function<void()> OnExit;
  std::function<void(Qt::KeyboardModifiers modifiers, int x, int y)> OnMouseMove;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  struct TButton {
    bool Visible = true;
    bool Enabled = true;
    bool Colored = true;
    bool Down = false;
    QPixmap EnabledGlyph, DisabledGlyph, ColoredGlyph;
  };

  int VisibleCount() const;
  int ButtonAt(int x) const;
  void Press(const QPoint& pos);
  void DrawButton(class QPainter& painter, int index, int x) const;

  std::array<TButton, MPBtnCount> Buttons;
  TButtonSet Colored = TButtonSet::All();
  TButtonSet EnabledSet = TButtonSet::All();
  TButtonSet VisibleSet = TButtonSet::All();
  int MinBtnWidth = 0;
  int MinBtnHeight = 0;
  int BtnWidth = 0;
  int FocusedIndex = 0;
  int PressedIndex = -1;
  bool Tracking = false;
  bool Inside = false;
  QRect PressedRect;
  bool Updating = false;
};

}  // namespace klarwell
