#include "journal/ui/history_model.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QFile>
#include <QFont>
#include <algorithm>
#include <span>

#include "common/ui/qt_text.h"
#include "media/snapshot_picture.h"

namespace krt {
namespace {

// Thumbnails held at once, by their bytes: about 1,200 of 58 × 44.
constexpr qsizetype kThumbnailCacheBytes = 12 * 1024 * 1024;
// Larger files are no snapshots; they are not read.
constexpr qint64 kMaxSnapshotBytes = 16 * 1024 * 1024;

QString localTime(JournalClock::time_point time) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("dd-MMM-yyyy HH:mm:ss"));
}

}  // namespace

HistoryModel::HistoryModel(AlarmJournal& journal, QObject* parent)
    : QAbstractTableModel(parent), m_journal(journal), m_thumbnails(kThumbnailCacheBytes) {
    m_keys = m_journal.list(m_filter);
}

void HistoryModel::setFilter(JournalFilter filter) {
    beginResetModel();
    m_filter = std::move(filter);
    m_keys = m_journal.list(m_filter);
    forgetDetails();
    endResetModel();
}

void HistoryModel::refresh() {
    std::vector<JournalKey> keys = m_journal.list(m_filter);
    // Rows only added on top keep the view where it is, with its selection.
    const bool onTop =
        keys.size() >= m_keys.size() && std::equal(m_keys.rbegin(), m_keys.rend(), keys.rbegin());
    if (!onTop) {
        beginResetModel();
        m_keys = std::move(keys);
        forgetDetails();
        endResetModel();
        return;
    }
    const auto added = static_cast<int>(keys.size() - m_keys.size());
    forgetDetails();
    if (added > 0) {
        beginInsertRows({}, 0, added - 1);
        m_keys = std::move(keys);
        endInsertRows();
    }
    if (!m_keys.empty()) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    }
}

void HistoryModel::forgetDetails() {
    m_pages.clear();
    m_pageUse.clear();
}

const std::vector<JournalRow>& HistoryModel::page(int number) const {
    if (const auto found = m_pages.find(number); found != m_pages.end()) {
        m_pageUse.remove(number);
        m_pageUse.push_front(number);
        return found->second;
    }
    if (static_cast<int>(m_pages.size()) >= kCachedPages) {
        m_pages.erase(m_pageUse.back());
        m_pageUse.pop_back();
    }
    const auto first = static_cast<std::size_t>(number) * kRowsPerPage;
    const std::size_t count = std::min<std::size_t>(kRowsPerPage, m_keys.size() - first);
    std::vector<JournalRow> rows = m_journal.rows(std::span(m_keys).subspan(first, count));
    // A row deleted meanwhile (retention) leaves a blank rather than shifting the others.
    if (rows.size() != count) {
        std::vector<JournalRow> aligned(count);
        std::size_t next = 0;
        for (std::size_t i = 0; i < count && next < rows.size(); ++i) {
            const JournalKey& key = m_keys[first + i];
            if (rows[next].id == key.id && rows[next].kind == key.kind) {
                aligned[i] = std::move(rows[next++]);
            } else {
                aligned[i].kind = key.kind;
                aligned[i].id = -1;
            }
        }
        rows = std::move(aligned);
    }
    m_pageUse.push_front(number);
    return m_pages.emplace(number, std::move(rows)).first->second;
}

const JournalRow* HistoryModel::row(int index) const {
    if (index < 0 || index >= rowCount()) {
        return nullptr;
    }
    const std::vector<JournalRow>& rows = page(index / kRowsPerPage);
    const auto offset = static_cast<std::size_t>(index % kRowsPerPage);
    return offset < rows.size() && rows[offset].id >= 0 ? &rows[offset] : nullptr;
}

std::vector<std::int64_t> HistoryModel::alarmIds(const QModelIndexList& rows) const {
    std::vector<std::int64_t> ids;
    for (const QModelIndex& index : rows) {
        const auto key = static_cast<std::size_t>(index.row());
        if (key < m_keys.size() && m_keys[key].kind == JournalRow::Kind::alarm) {
            ids.push_back(m_keys[key].id);
        }
    }
    std::ranges::sort(ids);
    const auto [first, last] = std::ranges::unique(ids);
    ids.erase(first, last);
    return ids;
}

std::vector<std::int64_t> HistoryModel::shownAlarmIds() const {
    std::vector<std::int64_t> ids;
    for (const JournalKey& key : m_keys) {
        if (key.kind == JournalRow::Kind::alarm) {
            ids.push_back(key.id);
        }
    }
    return ids;
}

int HistoryModel::shownAlarmCount() const {
    return static_cast<int>(std::ranges::count(m_keys, JournalRow::Kind::alarm, &JournalKey::kind));
}

std::vector<JournalRow> HistoryModel::shownRows() const {
    std::vector<JournalRow> rows;
    for (std::size_t first = 0; first < m_keys.size(); first += kRowsPerPage) {
        const std::size_t count = std::min<std::size_t>(kRowsPerPage, m_keys.size() - first);
        std::vector<JournalRow> page = m_journal.rows(std::span(m_keys).subspan(first, count));
        std::ranges::move(page, std::back_inserter(rows));
    }
    return rows;
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_keys.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QImage HistoryModel::thumbnail(const JournalRow& alarm) const {
    if (alarm.snapshotName.empty()) {
        return {};
    }
    if (const QImage* kept = m_thumbnails.object(alarm.id)) {
        return *kept;
    }
    QFile file(QString::fromStdString((m_journal.snapshotFolder() / alarm.snapshotName).string()));
    QImage image;
    if (file.open(QIODevice::ReadOnly) && file.size() <= kMaxSnapshotBytes) {
        const QByteArray bytes = file.readAll();
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
        const std::optional<DecodedPicture> picture =
            decodeSnapshot(std::span(data, static_cast<std::size_t>(bytes.size())),
                           {kThumbnailHeight * 2, kThumbnailHeight});
        if (picture) {
            image = QImage(picture->pixels.data(), picture->size.width, picture->size.height,
                           picture->bytesPerLine(), QImage::Format_RGB32)
                        .copy();
        }
    }
    // Also a snapshot that cannot be shown is remembered, so that it is not read again.
    m_thumbnails.insert(alarm.id, new QImage(image),
                        std::max<qsizetype>(image.sizeInBytes(), 1));  // the cache owns it
    return image;
}

QVariant HistoryModel::displayText(const JournalRow& row, int column) const {
    switch (column) {
        case receivedColumn:
            return localTime(row.time);
        case serverColumn:
            return qtText(serverName(row.site, row.server));
        default:
            break;
    }
    if (row.kind == JournalRow::Kind::gap) {
        return column == kGapTextColumn ? qtText(gapText(row, JournalClock::now())) : QVariant();
    }
    switch (column) {
        case snapshotColumn:
            // A row without its picture says why, when that is known.
            return row.snapshotName.empty() ? qtText(row.snapshotMissing) : QVariant();
        case cameraColumn:
            return qtServerText(row.channelId);
        case alarmColumn:
            return row.late ? qtServerText(row.alarmName) + QStringLiteral("  (late: ") +
                                  qtText(row.timeText) + QStringLiteral(")")
                            : qtServerText(row.alarmName);
        case reviewColumn:
            if (!row.reviewedAt) {
                return QString();
            }
            return QStringLiteral("\u2713 %1 %2%3")
                .arg(qtText(row.reviewedBy), localTime(*row.reviewedAt),
                     row.note.empty() ? QString() : QStringLiteral(": ") + qtText(row.note));
        default:
            return {};
    }
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    const JournalRow* shown = index.isValid() ? row(index.row()) : nullptr;
    if (shown == nullptr) {
        return {};
    }
    const bool gap = shown->kind == JournalRow::Kind::gap;
    switch (role) {
        case Qt::DisplayRole:
            return displayText(*shown, index.column());
        case Qt::ToolTipRole: {
            // A tooltip takes text that looks like markup as markup.
            const QVariant text = displayText(*shown, index.column());
            return text.isValid() ? QVariant(literalRichText(text.toString())) : QVariant();
        }
        case Qt::DecorationRole:
            if (!gap && index.column() == snapshotColumn) {
                const QImage image = thumbnail(*shown);
                return image.isNull() ? QVariant() : QVariant(image);
            }
            return {};
        case Qt::BackgroundRole:
            // An interval in which nothing could be received is told from a quiet one.
            return gap ? QBrush(QColor(255, 236, 179)) : QVariant();
        case Qt::FontRole:
            if (!gap && !shown->reviewedAt) {
                QFont font;
                font.setBold(true);
                return font;
            }
            return {};
        default:
            return {};
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
        case snapshotColumn:
            return QStringLiteral("Snapshot");
        case receivedColumn:
            return QStringLiteral("Received");
        case serverColumn:
            return QStringLiteral("Server");
        case cameraColumn:
            return QStringLiteral("Camera");
        case alarmColumn:
            return QStringLiteral("Alarm");
        case reviewColumn:
            return QStringLiteral("Reviewed");
        default:
            return {};
    }
}

}  // namespace krt
