#pragma once

#include <QWidget>

#include "common/app_state.h"
#include "common/ui/full_screen.h"
#include "layouts/layout_book.h"

namespace krt {

class LayoutGrid;

// A layout in a window of its own, for a second screen: its own tiles and its own full
// screen (F11 or a double click; Escape leaves it). Closing it closes only this window.
class LayoutWindow : public QWidget {
    Q_OBJECT

  public:
    LayoutWindow(const AppState& app, QWidget* owner);
    ~LayoutWindow() override;
    LayoutWindow(const LayoutWindow&) = delete;
    LayoutWindow& operator=(const LayoutWindow&) = delete;

    void showLayout(const Layout& layout);
    void setFullScreen(bool on);
    bool fullScreen() const { return m_fullScreen.active(); }
    LayoutGrid* grid() const { return m_grid; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Where the window opens for an owner window.
    static QRect placeFor(const QWidget* owner, QSize size);
    LayoutGrid* m_grid;
    FullScreenSwitch m_fullScreen{this};
};

}  // namespace krt
