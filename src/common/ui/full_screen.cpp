#include "common/ui/full_screen.h"

#include <QTabBar>
#include <QTabWidget>
#include <QWidget>

namespace krt {

void FullScreenSwitch::enter() {
    if (m_active) {
        return;
    }
    m_active = true;
    for (QWidget* holder = m_page->parentWidget(); holder != nullptr;
         holder = holder->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(holder)) {
            m_hiddenTabs.push_back({tabs, tabs->documentMode()});
            tabs->setDocumentMode(true);
            tabs->tabBar()->hide();
        }
    }
    QWidget* window = m_page->window();
    m_windowStates = window->windowState();
    window->setWindowState((m_windowStates & ~Qt::WindowMinimized) | Qt::WindowFullScreen);
    window->show();
}

void FullScreenSwitch::leave() {
    if (!m_active) {
        return;
    }
    m_active = false;
    for (const HiddenTabs& hidden : m_hiddenTabs) {
        if (hidden.tabs) {
            hidden.tabs->tabBar()->show();
            hidden.tabs->setDocumentMode(hidden.documentMode);
        }
    }
    m_hiddenTabs.clear();
    QWidget* window = m_page->window();
    window->setWindowState(m_windowStates & ~Qt::WindowFullScreen);
    window->show();
}

}  // namespace krt
