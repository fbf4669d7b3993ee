#pragma once

#include <QAbstractTableModel>
#include <QCache>
#include <QImage>
#include <cstdint>
#include <list>
#include <map>
#include <vector>

#include "journal/alarm_journal.h"

namespace krt {

// The rows of the History: every alarm and every interval without reception that the filter
// lets through, newest first, each with its time and server. An interval's text stands in its
// camera column (kGapTextColumn), from where the view lets it read across the rest of the row.
// Only their keys are held; a row's details are read from the journal a page at a time when it
// is shown, and its thumbnail decoded then, both kept in a bounded cache, so that scrolling
// through any number of rows holds little memory.
class HistoryModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column {
        snapshotColumn,
        receivedColumn,
        serverColumn,
        cameraColumn,
        alarmColumn,
        reviewColumn,
        columnCount_
    };
    static constexpr int kGapTextColumn = cameraColumn;
    static constexpr int kRowsPerPage = 256;
    static constexpr int kCachedPages = 8;
    static constexpr int kThumbnailHeight = 44;

    explicit HistoryModel(AlarmJournal& journal, QObject* parent = nullptr);

    const JournalFilter& filter() const { return m_filter; }
    void setFilter(JournalFilter filter);
    // Reads the journal again under the same filter: rows that came are added on top, and
    // every row shown is read afresh (an interval may have ended, a review been made).
    void refresh();

    // The row at `index`, read if need be; null out of range.
    const JournalRow* row(int index) const;
    const std::vector<JournalKey>& keys() const { return m_keys; }
    // The alarms among these rows, and among every row shown.
    std::vector<std::int64_t> alarmIds(const QModelIndexList& rows) const;
    std::vector<std::int64_t> shownAlarmIds() const;
    // Every row shown, read a page at a time.
    std::vector<JournalRow> shownRows() const;
    int shownAlarmCount() const;
    // Pages of details held now (at most kCachedPages).
    int cachedPageCount() const { return static_cast<int>(m_pages.size()); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    const std::vector<JournalRow>& page(int number) const;
    QImage thumbnail(const JournalRow& alarm) const;
    QVariant displayText(const JournalRow& row, int column) const;
    void forgetDetails();

    AlarmJournal& m_journal;
    JournalFilter m_filter;
    std::vector<JournalKey> m_keys;
    mutable std::map<int, std::vector<JournalRow>> m_pages;
    mutable std::list<int> m_pageUse;  // most recently used first
    mutable QCache<std::int64_t, QImage> m_thumbnails;
};

}  // namespace krt
