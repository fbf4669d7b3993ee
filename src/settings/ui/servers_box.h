#pragma once

#include <QGroupBox>

class QLabel;
class QListWidget;
class QPushButton;

namespace krt {

class SavedServers;

// The "Servers" part of the Settings tab: the login dialog's server first, then the ones the
// operator added, which Add…, Edit… and Remove change. A list file that could not be read is
// said under the list.
class ServersBox : public QGroupBox {
    Q_OBJECT

  public:
    explicit ServersBox(QWidget* parent = nullptr);

    QListWidget* serverList() const { return m_list; }
    QPushButton* addButton() const { return m_add; }
    QPushButton* editButton() const { return m_edit; }
    QPushButton* removeButton() const { return m_remove; }
    QLabel* fileNotice() const { return m_fileNotice; }
    SavedServers* servers() const { return m_servers; }

  private:
    void showServers();
    void enableButtons();
    // The added server's name of the selected row; empty for the first server or none.
    std::string selectedName() const;
    void editSelected();
    void removeSelected();

    SavedServers* m_servers;
    QListWidget* m_list;
    QPushButton* m_add;
    QPushButton* m_edit;
    QPushButton* m_remove;
    QLabel* m_fileNotice;
};

}  // namespace krt
