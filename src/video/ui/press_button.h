#pragma once

#include <QPixmap>
#include <QPushButton>
#include <functional>

namespace krt {

// A push button that can show a picture stretched over its face; without one it is an
// ordinary button with its caption.
class PictureButton : public QPushButton {
    Q_OBJECT

  public:
    explicit PictureButton(const QString& caption, QWidget* parent = nullptr);

    void setBitmap(const QPixmap& bitmap);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPixmap m_bitmap;
};

// A button that reports the press and the release of the mouse separately, each before the
// button's own handling (the PTZ buttons: a camera moves while its button is held).
class PressButton : public PictureButton {
    Q_OBJECT

  public:
    enum class Kind { Pressed = 1, Released = 2 };
    using Callback = std::function<void(int controlId, PressButton* button, Kind kind)>;

    PressButton(int controlId, const QString& caption, QWidget* parent = nullptr);

    void registerCallback(Callback callback) { m_callback = std::move(callback); }
    int controlId() const { return m_controlId; }

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void report(Kind kind);

    int m_controlId;
    Callback m_callback;
};

}  // namespace krt
