#include "playback/Player.h"

#include <QEvent>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <algorithm>

#include "playback/PlayerGlyphs.h"

namespace klarwell {
namespace {

const char* const GlyphNames[MPBtnCount] = {
    "MPPLAY",    // btPlay
    "MPPAUSE",   // btPause
    "MPPAUSE",   // btPauseDown
    "MPSTOP",    // btStop
    "MPNEXT",    // btNext
    "MPPREV",    // btPrev
    "MPSTEP",    // btStep
    "MPBACK",    // btBack
    "MPRECORD",  // btRecord
    "MPEJECT",   // btEject
    "MPHELP",    // btHelp
    "MPNEXT",    // btAutoNext
};

bool IsToggle(int button) {
  return button == btPauseDown || button == btAutoNext;
}

}  // namespace

TPlayer::TPlayer(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);  // a tab stop
  int widest = 0, highest = 0;
  for (int i = 0; i < MPBtnCount; ++i) {
    TButton& b = Buttons[i];
    b.EnabledGlyph = MakePlayerGlyph(GlyphNames[i], TGlyphVariant::Enabled);
    b.DisabledGlyph = MakePlayerGlyph(GlyphNames[i], TGlyphVariant::Disabled);
    b.ColoredGlyph = MakePlayerGlyph(GlyphNames[i], TGlyphVariant::Colored);
    for (const QPixmap* p : {&b.EnabledGlyph, &b.DisabledGlyph, &b.ColoredGlyph}) {
      widest = std::max(widest, p->width());
      highest = std::max(highest, p->height());
    }
  }
  MinBtnWidth = widest + 8;
  MinBtnHeight = highest + 4;
  BtnWidth = (240 - 1) / VisibleCount() + 1;
  resize(240, 30);
  // A hidden widget gets its resize event only when shown; the bar has its real size at once.
  QResizeEvent initial(size(), QSize());
  resizeEvent(&initial);
}

int TPlayer::VisibleCount() const {
  int count = 0;
  for (const TButton& b : Buttons) count += b.Visible ? 1 : 0;
  return std::max(count, 1);
}

void TPlayer::SetColoredButtons(TButtonSet buttons) {
  Colored = buttons;
  for (int i = 0; i < MPBtnCount; ++i) Buttons[i].Colored = buttons.Contains(static_cast<TMPBtnType>(i));
  update();
}

void TPlayer::SetEnabledButtons(TButtonSet buttons) {
  EnabledSet = buttons;
  for (int i = 0; i < MPBtnCount; ++i) Buttons[i].Enabled = buttons.Contains(static_cast<TMPBtnType>(i));
  update();
}

void TPlayer::SetVisibleButtons(TButtonSet buttons) {
  VisibleSet = buttons;
  for (int i = 0; i < MPBtnCount; ++i) Buttons[i].Visible = buttons.Contains(static_cast<TMPBtnType>(i));
  const int count = VisibleCount();
  if (Updating) {
    BtnWidth = (width() - 1) / count + 1;
  } else {
    resize((BtnWidth - 1) * count + 1, height());
  }
  update();
}

void TPlayer::SetButtonDown(TMPBtnType button, bool down) {
  Buttons[button].Down = down;
  update();
}

void TPlayer::EndUpdate() {
  Updating = false;
  resize((BtnWidth - 1) * VisibleCount() + 1, height());
}

QRect TPlayer::ButtonRect(TMPBtnType button) const {
  if (!Buttons[button].Visible) return QRect();
  int x = 0;
  for (int i = 0; i < button; ++i) {
    if (Buttons[i].Visible) x += BtnWidth - 1;
  }
  return QRect(x, 0, BtnWidth, height());
}

bool TPlayer::IsButtonDrawnPressed(TMPBtnType button) const {
  // Only a press in progress draws a button pressed by the mouse; after the release a toggle shows
  // its down flag alone, so that releasing it later (SetButtonDown) raises it again.
  const bool held = Tracking && Inside && PressedIndex == button;
  return held || (IsToggle(button) && Buttons[button].Down);
}

QSize TPlayer::sizeHint() const {
  return QSize((BtnWidth - 1) * VisibleCount() + 1, std::max(MinBtnHeight, height()));
}

QSize TPlayer::minimumSizeHint() const {
  return QSize((MinBtnWidth - 1) * VisibleCount() + 1, MinBtnHeight);
}

void TPlayer::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (Updating) return;
  const int count = VisibleCount();
  BtnWidth = (width() - 1) / count + 1;
  // Adjacent buttons share their one-pixel border.
  const int newWidth = std::max(count * (BtnWidth - 1) + 1, (MinBtnWidth - 1) * count + 1);
  const int newHeight = std::max(MinBtnHeight, height());
  if (newWidth != width() || newHeight != height()) resize(newWidth, newHeight);
}

void TPlayer::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPalette& pal = palette();
  painter.setPen(pal.color(QPalette::Shadow));
  painter.setBrush(pal.color(QPalette::Button));
  painter.drawRect(0, 0, width() - 1, height() - 1);
  int x = 0;
  for (int i = 0; i < MPBtnCount; ++i) {
    if (!Buttons[i].Visible) continue;
    DrawButton(painter, i, x);
    x += BtnWidth - 1;
  }
}

void TPlayer::DrawButton(QPainter& painter, int index, int x) const {
  const QPalette& pal = palette();
  const TButton& b = Buttons[index];
  const bool pressed = IsButtonDrawnPressed(static_cast<TMPBtnType>(index));
  const int h = height();
  const int w = BtnWidth;

  painter.setPen(pal.color(QPalette::Shadow));
  painter.setBrush(pal.color(QPalette::Button));
  painter.drawRect(x, 0, w - 1, h - 1);

  if (pressed) {
    painter.setPen(pal.color(QPalette::Dark));
    painter.drawLine(x + 1, h - 2, x + 1, 1);
    painter.drawLine(x + 1, 1, x + w - 2, 1);
  } else {
    painter.setPen(pal.color(QPalette::Light));
    painter.drawLine(x + 1, h - 2, x + 1, 1);
    painter.drawLine(x + 1, 1, x + w - 2, 1);
    painter.setPen(pal.color(QPalette::Dark));
    painter.drawLine(x + 2, h - 2, x + w - 2, h - 2);
    painter.drawLine(x + w - 2, h - 2, x + w - 2, 1);
  }

  const QPixmap& glyph = (!isEnabled() || !b.Enabled) ? b.DisabledGlyph
                         : b.Colored                  ? b.ColoredGlyph
                                                      : b.EnabledGlyph;
  const int shift = pressed ? 1 : 0;
  painter.drawPixmap(x + w / 2 - glyph.width() / 2 + shift, h / 2 - glyph.height() / 2 + shift, glyph);

  if (hasFocus() && FocusedIndex == index) {
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = QRect(x + 3 + shift, 3 + shift, w - 6, h - 6);
    option.backgroundColor = pal.color(QPalette::Button);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
  }
}

int TPlayer::ButtonAt(int x) const {
  int left = 0;
  for (int i = 0; i < MPBtnCount; ++i) {
    if (!Buttons[i].Visible) continue;
    if (x >= left && x <= left + BtnWidth) return i;
    left += BtnWidth - 1;
  }
  return -1;
}

void TPlayer::Press(const QPoint& pos) {
  const int index = ButtonAt(pos.x());
  if (index < 0 || !Buttons[index].Enabled) return;
  PressedIndex = index;
  if (FocusedIndex != index) FocusedIndex = index;
  PressedRect = ButtonRect(static_cast<TMPBtnType>(index));
  Tracking = true;
  Inside = true;
  if (IsToggle(index)) Buttons[index].Down = !Buttons[index].Down;
  update();
}

void TPlayer::mousePressEvent(QMouseEvent* event) {
  // Accepted whatever is hit, so that the move and release events come back to the bar.
  if (event->button() == Qt::LeftButton) Press(event->position().toPoint());
}

void TPlayer::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Press(event->position().toPoint());
}

void TPlayer::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (OnMouseMove) OnMouseMove(event->modifiers(), pos.x(), pos.y());
  if (!Tracking) return;
  const bool inside = PressedRect.contains(pos);
  if (inside != Inside) {
    Inside = inside;
    update();
  }
}

void TPlayer::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const bool fire = Tracking && Inside;
  const int index = PressedIndex;
  if (fire && !(IsToggle(index) && Buttons[index].Down)) {
    Inside = false;
  }
  Tracking = false;
  update();
  if (fire && OnClick) {
    bool doDefault = true;
    OnClick(this, static_cast<TMPBtnType>(index), doDefault);
  }
}

void TPlayer::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
  if (OnEnter) OnEnter();
}

void TPlayer::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
  if (OnExit) OnExit();
}

void TPlayer::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) update();
}

}  // namespace klarwell
