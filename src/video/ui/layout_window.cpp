#include "video/ui/layout_window.h"

#include "common/ui/program_icon.h"
#include "common/ui/qt_text.h"
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
    resize(800, 600);
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
