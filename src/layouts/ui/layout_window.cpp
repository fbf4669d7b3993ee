#include "layouts/ui/layout_window.h"

#include <QGuiApplication>
#include <QScreen>

#include "common/ui/program_icon.h"
#include "common/ui/qt_text.h"
#include "common/ui/window_placement.h"
#include "layouts/ui/layout_grid.h"

namespace krt {

LayoutWindow::LayoutWindow(const AppState& app, QWidget* owner)
    // A window of the owner's: not blocked while the owner runs modally, and gone with it.
    : QWidget(owner, Qt::Window), m_grid(new LayoutGrid(app, this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(programIcon());
    // Its layout is edited in the main window; here it is only watched.
    m_grid->setEditable(false);
    connect(m_grid, &LayoutGrid::fullScreenToggled, this,
            [this] { setFullScreen(!m_fullScreen.active()); });
    connect(m_grid, &LayoutGrid::fullScreenLeft, this, [this] { setFullScreen(false); });
    setGeometry(placeFor(owner->window(), QSize(800, 600)));
}

QRect LayoutWindow::placeFor(const QWidget* owner, QSize size) {
    // The frame taken as wide as the owner's.
    const QRect framed = owner->frameGeometry();
    const QRect inner = owner->geometry();
    const QMargins frame(inner.left() - framed.left(), inner.top() - framed.top(),
                         framed.right() - inner.right(), framed.bottom() - inner.bottom());
    // A second window is meant for a second screen: there it opens in the middle.
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen != owner->screen()) {
            const QRect room = screen->availableGeometry().marginsRemoved(frame);
            const QPoint half(size.width() / 2, size.height() / 2);
            return keptWithin(QRect(room.center() - half, size), room);
        }
    }
    // On the owner's only screen, a step down and right of it, so that both stay in sight.
    const int step = frame.top() + 16;
    return keptWithin(QRect(inner.topLeft() + QPoint(step, step), size),
                      owner->screen()->availableGeometry().marginsRemoved(frame));
}

LayoutWindow::~LayoutWindow() {
    m_grid->stop();
}

void LayoutWindow::showLayout(const Layout& layout) {
    setWindowTitle(QStringLiteral("%1 - KRT").arg(qtServerText(layout.name)));
    m_grid->showLayout(layout);
}

void LayoutWindow::setFullScreen(bool on) {
    if (on) {
        m_fullScreen.enter();
    } else {
        m_fullScreen.leave();
    }
    m_grid->setFocus();
}

void LayoutWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_grid->setGeometry(rect());
}

}  // namespace krt
