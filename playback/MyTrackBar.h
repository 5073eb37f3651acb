#pragma once

#include <QSlider>
#include <functional>

namespace klarwell {

// A slider that also reports the dragging of its thumb: OnTrack for every move of the dragged thumb
// and OnEndTrack once when it is released. Both fire after the slider's own handling, so value() and
// the valueChanged signal are already up to date. Clicks in the channel beside the thumb, the wheel
// and the keyboard fire neither. Main thread only.
class TMyTrackBar : public QSlider {
 public:
  explicit TMyTrackBar(QWidget* parent = nullptr);
  explicit TMyTrackBar(Qt::Orientation orientation, QWidget* parent = nullptr);

  std::function<void()> OnTrack;
  std::function<void()> OnEndTrack;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool ThumbDragged = false;  // the thumb was grabbed by the press now held
};

}  // namespace klarwell
