#pragma once

#include <QWidget>

#include "common/app_state.h"

class QLineEdit;
class QListWidget;

namespace krt {

// The catalogue beside the page while a layout is built: every camera by ID and
// description, under its server's name where there are several, a search box that keeps the
// matching ones, and cameras dragged from it onto the cells of a layout.
class CameraList : public QWidget {
    Q_OBJECT

  public:
    explicit CameraList(const AppState& app, QWidget* parent = nullptr);

    // Fills the list from the catalogue (after the login has loaded it).
    void reload();
    // Keeps the cameras whose ID or description holds the text, ignoring letter case.
    void filter(const QString& text);

    QLineEdit* searchBox() const { return m_search; }
    QListWidget* list() const { return m_list; }

  signals:
    // A double click: the camera goes into the focused cell.
    void cameraChosen(const krt::CameraRef& camera);

  private:
    void addServer(const AppState& server, bool withHeading);

    const AppState& m_app;
    QLineEdit* m_search;
    QListWidget* m_list;
};

}  // namespace krt
