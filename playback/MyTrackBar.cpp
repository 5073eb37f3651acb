#include "playback/MyTrackBar.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

namespace klarwell {

TMyTrackBar::TMyTrackBar(QWidget* parent) : TMyTrackBar(Qt::Horizontal, parent) {}

TMyTrackBar::TMyTrackBar(Qt::Orientation orientation, QWidget* parent) : QSlider(orientation, parent) {}

void TMyTrackBar::mousePressEvent(QMouseEvent* event) {
  // Only a press on the thumb starts a drag. Some styles also let a click in the channel jump the
  // thumb under the mouse and hold it; that counts as a drag once the thumb is moved.
  QStyleOptionSlider option;
  initStyleOption(&option);
  const bool onThumb = style()->hitTestComplexControl(QStyle::CC_Slider, &option, event->position().toPoint(),
                                                      this) == QStyle::SC_SliderHandle;
  QSlider::mousePressEvent(event);
  ThumbDragged = onThumb && isSliderDown();
}

void TMyTrackBar::mouseMoveEvent(QMouseEvent* event) {
  const int before = sliderPosition();
  QSlider::mouseMoveEvent(event);
  if (isSliderDown() && sliderPosition() != before) {
    ThumbDragged = true;
    if (OnTrack) OnTrack();
  }
}

void TMyTrackBar::mouseReleaseEvent(QMouseEvent* event) {
  const bool wasDragged = ThumbDragged && isSliderDown();
  QSlider::mouseReleaseEvent(event);
  ThumbDragged = false;
  if (wasDragged && OnEndTrack) OnEndTrack();
}

}  // namespace klarwell
