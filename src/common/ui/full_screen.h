#pragma once

#include <QPointer>
#include <vector>

class QTabWidget;
class QWidget;

namespace krt {

// Shows the window of a page full screen with the page alone: the tab bars of the tab widgets
// that hold it are hidden (and their frames dropped) until it leaves full screen, when the
// window gets back the state it had (normal or maximised).
class FullScreenSwitch {
  public:
    explicit FullScreenSwitch(QWidget* page) : m_page(page) {}

    bool active() const { return m_active; }
    void enter();
    void leave();

  private:
    struct HiddenTabs {
        QPointer<QTabWidget> tabs;
        bool documentMode = false;
    };

    QWidget* m_page;
    bool m_active = false;
    Qt::WindowStates m_windowStates;
    std::vector<HiddenTabs> m_hiddenTabs;
};

}  // namespace krt
