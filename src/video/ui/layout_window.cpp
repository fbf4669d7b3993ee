#include "video/ui/layout_window.h"

#include <QScreen>

#include "common/ui/program_icon.h"
#include "common/ui/qt_text.h"
#include "common/ui/window_placement.h"
#include "video/ui/layout_grid.h"

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
    // Over the middle of the window it was opened from, wholly on that window's screen, its
    // frame taken as wide as the owner's.
    const QRect framed = owner->window()->frameGeometry();
    const QRect inner = owner->window()->geometry();
    const QMargins frame(inner.left() - framed.left(), inner.top() - framed.top(),
                         framed.right() - inner.right(), framed.bottom() - inner.bottom());
    const QRect room = owner->screen()->availableGeometry().marginsRemoved(frame);
    setGeometry(placedWithin(QSize(800, 600), inner.center(), room));
}

LayoutWindow::~LayoutWindow() {
    m_grid->stop();
}

void LayoutWindow::showLayout(const Layout& layout) {
    setWindowTitle(QStringLiteral("%1 - KRT").arg(qtText(layout.name)));
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
