#pragma once

#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "journal/alarm_journal.h"

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace krt {

class HistoryModel;

// The History on the Alarms tab: every alarm of the journal and every interval in which no
// alarm could be received, newest first, with thumbnails and their servers; filters by server,
// camera, alarm name, time and "Unreviewed only"; Enter or a double-click shows an alarm's snapshot
// large (with Show Video, Save and Copy); the selected or all shown alarms can be marked reviewed,
// with a note; the shown rows can be exported as a CSV file with their snapshots. Keys: Ctrl+F the
// name filter, Ctrl+R mark the selection reviewed, Ctrl+Shift+R all shown, Ctrl+E export.
class HistoryView : public QWidget {
    Q_OBJECT

  public:
    // Asks for the review's note; nothing when the user cancels.
    using NoteAsker = std::function<std::optional<QString>(QWidget* parent, int alarms)>;
    // Asks for the export's folder; empty when the user cancels.
    using FolderChooser = std::function<QString(QWidget* parent)>;

    // Reads the journal in `journalFolder`; reviews are made as `reviewer`.
    HistoryView(const std::filesystem::path& journalFolder, std::string reviewer,
                QWidget* parent = nullptr);
    ~HistoryView() override;

    // Reads the journal again: new alarms on top, ended intervals, reviews made elsewhere.
    void refresh();
    // Every alarm received from `from` to `to` (both included), whatever the other filters
    // said: the alarms an alarm monitor could not show.
    void showReceivedBetween(const QDateTime& from, const QDateTime& to);
    int unreviewedCount() const { return m_unreviewed; }

    void markSelectedReviewed();
    void markAllShownReviewed();
    void exportShown();
    void openSnapshot(int row);

    void setNoteAsker(NoteAsker asker) { m_noteAsker = std::move(asker); }
    void setFolderChooser(FolderChooser chooser) { m_folderChooser = std::move(chooser); }

    HistoryModel* model() const { return m_model.get(); }
    QTableView* table() const { return m_table; }
    QComboBox* serverFilter() const { return m_server; }
    QComboBox* cameraFilter() const { return m_camera; }
    QLineEdit* nameFilter() const { return m_name; }
    QCheckBox* fromBox() const { return m_fromBox; }
    QDateTimeEdit* fromEdit() const { return m_from; }
    QCheckBox* toBox() const { return m_toBox; }
    QDateTimeEdit* toEdit() const { return m_to; }
    QCheckBox* unreviewedOnlyBox() const { return m_unreviewedOnly; }
    QPushButton* markSelectedButton() const { return m_markSelected; }
    QPushButton* markAllButton() const { return m_markAll; }
    QPushButton* exportButton() const { return m_export; }
    QLabel* summary() const { return m_summary; }

  signals:
    // `server`: the alarm's in the operator's list; empty: the first server.
    void showVideoRequested(const QString& server, const QString& channelId);
    void unreviewedCountChanged(int count);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* makeFilters();
    QWidget* makeActions();
    void addShortcuts();
    void applyFilter();
    void fillServers();
    void fillCameras();
    void updateRows();
    void markReviewed(const std::vector<std::int64_t>& ids);
    void countUnreviewed();

    AlarmJournal m_journal;
    const std::string m_reviewer;
    std::unique_ptr<HistoryModel> m_model;
    QComboBox* m_server;
    QComboBox* m_camera;
    QLineEdit* m_name;
    QCheckBox* m_fromBox;
    QDateTimeEdit* m_from;
    QCheckBox* m_toBox;
    QDateTimeEdit* m_to;
    QCheckBox* m_unreviewedOnly;
    QTableView* m_table;
    QPushButton* m_markSelected;
    QPushButton* m_markAll;
    QPushButton* m_export;
    QLabel* m_summary;
    QTimer* m_filterDelay;
    int m_unreviewed = -1;
    NoteAsker m_noteAsker;
    FolderChooser m_folderChooser;
};

}  // namespace krt
