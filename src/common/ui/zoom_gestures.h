#pragma once

#include <QObject>
#include <QPointF>
#include <QRectF>
#include <functional>
#include <optional>

class QWidget;

namespace krt {

// The mouse gestures of a zoomable picture, read from its widget: Ctrl and the wheel zoom about
// the pointer (a factor of the step per notch), a drag moves a zoomed picture, and a press that
// does not drag a zoomed picture is a tap. Other events, and every event of a picture not
// zoomed but Ctrl and the wheel, pass on untouched.
class ZoomGestures : public QObject {
  public:
    struct Handlers {
        std::function<bool()> zoomed;
        // Where the picture lies in the widget.
        std::function<QRectF()> pictureArea;
        // `at`: the pointer as fractions of the picture area, each 0 to 1.
        std::function<void(double step, QPointF at)> zoomAt;
        // The drag since the last call, as fractions of the picture area.
        std::function<void(double dx, double dy)> pan;
        std::function<void()> tap;
    };

    ZoomGestures(QWidget* target, double stepPerNotch, Handlers handlers);

    // Where the pointer is over the picture, as fractions of it; the middle when it is not over
    // the widget.
    QPointF pointerOrMiddle() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPointF fractionOf(QPointF at) const;

    QWidget* m_target;
    double m_stepPerNotch;
    Handlers m_handlers;
    std::optional<QPointF> m_dragFrom;
    bool m_dragged = false;
};

}  // namespace krt
