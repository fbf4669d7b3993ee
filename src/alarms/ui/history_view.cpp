#include "alarms/ui/history_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <span>

#include "alarms/alarm_status_text.h"
#include "alarms/ui/snapshot_store.h"
#include "alarms/ui/snapshot_viewer.h"
#include "common/ui/message_box.h"
#include "common/ui/qt_text.h"
#include "journal/journal_export.h"
#include "journal/ui/history_model.h"

namespace krt {
namespace {

constexpr int kNameFilterDelay_ms = 150;
constexpr int kRowHeight = HistoryModel::kThumbnailHeight + 4;
constexpr qint64 kMaxSnapshotBytes = 16 * 1024 * 1024;
const QString kTimeFormat = QStringLiteral("dd-MMM-yyyy HH:mm");

// The snapshot column is narrow: why a row has no picture takes its lines there.
class WrappingDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->features |= QStyleOptionViewItem::WrapText;
    }
};

JournalClock::time_point journalTime(const QDateTime& time) {
    return JournalClock::time_point(std::chrono::milliseconds(time.toMSecsSinceEpoch()));
}

std::optional<QString> askForNote(QWidget* parent, int alarms) {
    bool ok = false;
    const QString note = QInputDialog::getText(
        parent, QStringLiteral("Mark Reviewed"),
        QStringLiteral("Mark %1 alarm(s) reviewed. Note (optional):").arg(alarms),
        QLineEdit::Normal, QString(), &ok);
    return ok ? std::optional(note) : std::nullopt;
}

QString chooseExportFolder(QWidget* parent) {
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("Export the Shown Alarms To"),
                                             QDir::homePath());
}

QDateTimeEdit* timeEdit(QWidget* parent, const QDateTime& time, const char* name) {
    auto* edit = new QDateTimeEdit(time, parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setDisplayFormat(kTimeFormat);
    edit->setCalendarPopup(true);
    edit->setEnabled(false);
    return edit;
}

}  // namespace

HistoryView::HistoryView(const std::filesystem::path& journalFolder, std::string reviewer,
                         QWidget* parent)
    : QWidget(parent),
      m_journal(journalFolder, AlarmJournal::Role::reader),
      m_reviewer(std::move(reviewer)),
      m_model(std::make_unique<HistoryModel>(m_journal)),
      m_table(new QTableView(this)),
      m_filterDelay(new QTimer(this)),
      m_noteAsker(askForNote),
      m_folderChooser(chooseExportFolder) {
    setObjectName(QStringLiteral("history"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(makeFilters());
    layout->addWidget(m_table, 1);
    layout->addWidget(makeActions());

    m_table->setModel(m_model.get());
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setTabKeyNavigation(false);  // Tab leaves the table for the buttons
    m_table->setWordWrap(false);
    m_table->setIconSize(QSize(2 * HistoryModel::kThumbnailHeight, HistoryModel::kThumbnailHeight));
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(kRowHeight);
    QHeaderView* columns = m_table->horizontalHeader();
    columns->setSectionResizeMode(HistoryModel::snapshotColumn, QHeaderView::Fixed);
    columns->resizeSection(HistoryModel::snapshotColumn, 2 * HistoryModel::kThumbnailHeight + 8);
    m_table->setItemDelegateForColumn(HistoryModel::snapshotColumn,
                                      new WrappingDelegate(m_table));  // the table owns it
    columns->resizeSection(HistoryModel::receivedColumn, 145);
    columns->resizeSection(HistoryModel::serverColumn, 110);
    columns->resizeSection(HistoryModel::cameraColumn, 60);
    // The alarm and the review (with its note) share what is left.
    columns->setSectionResizeMode(HistoryModel::alarmColumn, QHeaderView::Stretch);
    columns->setSectionResizeMode(HistoryModel::reviewColumn, QHeaderView::Stretch);
    // A double-click; Return is taken before the table passes it on to the window.
    connect(m_table, &QTableView::activated, this,
            [this](const QModelIndex& index) { openSnapshot(index.row()); });
    m_table->installEventFilter(this);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { m_markSelected->setEnabled(m_table->selectionModel()->hasSelection()); });

    m_filterDelay->setSingleShot(true);
    m_filterDelay->setInterval(kNameFilterDelay_ms);
    connect(m_filterDelay, &QTimer::timeout, this, &HistoryView::applyFilter);
    addShortcuts();
    fillServers();
    fillCameras();
    updateRows();
    countUnreviewed();
}

HistoryView::~HistoryView() = default;

bool HistoryView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_table && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            openSnapshot(m_table->currentIndex().row());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QWidget* HistoryView::makeFilters() {
    auto* filters = new QWidget(this);
    auto* grid = new QGridLayout(filters);
    grid->setContentsMargins(0, 0, 0, 0);
    m_server = new QComboBox(filters);
    m_server->setObjectName(QStringLiteral("serverFilter"));
    m_camera = new QComboBox(filters);
    m_camera->setObjectName(QStringLiteral("cameraFilter"));
    m_name = new QLineEdit(filters);
    m_name->setObjectName(QStringLiteral("nameFilter"));
    m_name->setPlaceholderText(QStringLiteral("Alarm name (Ctrl+F)"));
    m_name->setClearButtonEnabled(true);
    const QDateTime now = QDateTime::currentDateTime();
    m_fromBox = new QCheckBox(QStringLiteral("&From"), filters);
    m_from = timeEdit(filters, now.addDays(-1), "fromTime");
    m_toBox = new QCheckBox(QStringLiteral("&To"), filters);
    m_to = timeEdit(filters, now, "toTime");
    m_unreviewedOnly = new QCheckBox(QStringLiteral("&Unreviewed only"), filters);
    m_unreviewedOnly->setObjectName(QStringLiteral("unreviewedOnly"));
    // Which server, camera and alarm above, which times below: the whole filter fits a narrow
    // window.
    grid->addWidget(m_server, 0, 0);
    grid->addWidget(m_camera, 0, 1);
    grid->addWidget(m_name, 0, 2, 1, 2);
    grid->addWidget(m_unreviewedOnly, 0, 4);
    grid->addWidget(m_fromBox, 1, 0);
    grid->addWidget(m_from, 1, 1);
    grid->addWidget(m_toBox, 1, 2);
    grid->addWidget(m_to, 1, 3, Qt::AlignLeft);
    grid->setColumnStretch(3, 1);
    connect(m_server, &QComboBox::activated, this, &HistoryView::applyFilter);
    connect(m_camera, &QComboBox::activated, this, &HistoryView::applyFilter);
    connect(m_name, &QLineEdit::textChanged, this, [this] { m_filterDelay->start(); });
    for (auto [box, edit] : {std::pair{m_fromBox, m_from}, std::pair{m_toBox, m_to}}) {
        connect(box, &QCheckBox::toggled, edit, &QWidget::setEnabled);
        connect(box, &QCheckBox::toggled, this, &HistoryView::applyFilter);
        connect(edit, &QDateTimeEdit::dateTimeChanged, this, [this, box = box] {
            if (box->isChecked()) {
                m_filterDelay->start();
            }
        });
    }
    connect(m_unreviewedOnly, &QCheckBox::toggled, this, &HistoryView::applyFilter);
    return filters;
}

QWidget* HistoryView::makeActions() {
    auto* actions = new QWidget(this);
    auto* row = new QHBoxLayout(actions);
    row->setContentsMargins(0, 0, 0, 0);
    m_summary = new QLabel(actions);
    m_summary->setObjectName(QStringLiteral("historySummary"));
    m_summary->setTextFormat(Qt::PlainText);
    m_markSelected = new QPushButton(QStringLiteral("Mark &Reviewed\u2026"), actions);
    m_markAll = new QPushButton(QStringLiteral("Mark &All Shown Reviewed\u2026"), actions);
    m_export = new QPushButton(QStringLiteral("&Export\u2026"), actions);
    m_markSelected->setEnabled(false);
    // In the main window, a dialog, Return must not press them: it opens a snapshot.
    for (QPushButton* button : {m_markSelected, m_markAll, m_export}) {
        button->setAutoDefault(false);
    }
    row->addWidget(m_summary, 1);
    row->addWidget(m_markSelected);
    row->addWidget(m_markAll);
    row->addWidget(m_export);
    connect(m_markSelected, &QPushButton::clicked, this, &HistoryView::markSelectedReviewed);
    connect(m_markAll, &QPushButton::clicked, this, &HistoryView::markAllShownReviewed);
    connect(m_export, &QPushButton::clicked, this, &HistoryView::exportShown);
    return actions;
}

void HistoryView::addShortcuts() {
    const auto add = [this](QKeySequence keys, auto action) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    add(QKeySequence(Qt::CTRL | Qt::Key_F), [this] {
        m_name->setFocus(Qt::ShortcutFocusReason);
        m_name->selectAll();
    });
    add(QKeySequence(Qt::CTRL | Qt::Key_R), [this] { markSelectedReviewed(); });
    add(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R), [this] { markAllShownReviewed(); });
    add(QKeySequence(Qt::CTRL | Qt::Key_E), [this] { exportShown(); });
}

void HistoryView::showReceivedBetween(const QDateTime& from, const QDateTime& to) {
    const QSignalBlocker blockServer(m_server);
    const QSignalBlocker blockCamera(m_camera);
    const QSignalBlocker blockName(m_name);
    const QSignalBlocker blockUnreviewed(m_unreviewedOnly);
    m_server->setCurrentIndex(0);
    m_camera->setCurrentIndex(0);
    m_name->clear();
    m_unreviewedOnly->setChecked(false);
    m_fromBox->setChecked(true);
    m_toBox->setChecked(true);
    // The edits show whole minutes: the alarms' minutes are shown whole.
    const auto minute = [](QDateTime time) {
        time.setTime(QTime(time.time().hour(), time.time().minute()));
        return time;
    };
    m_from->setDateTime(minute(from));
    m_to->setDateTime(minute(to).addSecs(60));
    applyFilter();
}

void HistoryView::applyFilter() {
    m_filterDelay->stop();
    JournalFilter filter;
    if (const QVariant site = m_server->currentData(); site.isValid()) {
        filter.site = site.toString().toStdString();
    }
    filter.channelId = m_camera->currentData().toString().toStdString();
    filter.nameContains = m_name->text().toStdString();
    if (m_fromBox->isChecked()) {
        filter.since = journalTime(m_from->dateTime());
    }
    if (m_toBox->isChecked()) {
        filter.until = journalTime(m_to->dateTime());
    }
    filter.unreviewedOnly = m_unreviewedOnly->isChecked();
    m_model->setFilter(std::move(filter));
    updateRows();
}

void HistoryView::fillServers() {
    const QVariant chosen = m_server->currentData();
    const QString chosenText = m_server->currentText();
    m_server->clear();
    m_server->addItem(QStringLiteral("All servers"));  // no data: no site to match
    for (const JournalSite& site : m_journal.sites()) {
        m_server->addItem(qtText(serverName(site.site, site.server)), qtText(site.site));
    }
    int index = chosen.isValid() ? m_server->findData(chosen) : 0;
    if (index < 0) {
        // Retention took its last row; it stays what the rows are filtered by.
        m_server->addItem(chosenText, chosen);
        index = m_server->count() - 1;
    }
    m_server->setCurrentIndex(index);
}

void HistoryView::fillCameras() {
    const QString chosen = m_camera->currentData().toString();
    m_camera->clear();
    m_camera->addItem(QStringLiteral("All cameras"), QString());
    for (const std::string& channel : m_journal.channels()) {
        // Shown as the characters it is; matched as received.
        m_camera->addItem(qtServerText(channel), QString::fromStdString(channel));
    }
    m_camera->setCurrentIndex(std::max(m_camera->findData(chosen), 0));
}

void HistoryView::updateRows() {
    m_table->clearSpans();
    const std::vector<JournalKey>& keys = m_model->keys();
    for (std::size_t row = 0; row < keys.size(); ++row) {
        // An interval without reception reads across the row, after its time and server.
        if (keys[row].kind == JournalRow::Kind::gap) {
            m_table->setSpan(static_cast<int>(row), HistoryModel::kGapTextColumn, 1,
                             HistoryModel::columnCount_ - HistoryModel::kGapTextColumn);
        }
    }
    const int alarms = m_model->shownAlarmCount();
    m_summary->setText(QStringLiteral("%1 alarm(s) shown").arg(alarms));
    m_markAll->setEnabled(alarms > 0);
    m_export->setEnabled(alarms > 0);
    m_markSelected->setEnabled(m_table->selectionModel()->hasSelection());
}

void HistoryView::refresh() {
    m_model->refresh();
    fillServers();
    fillCameras();
    updateRows();
    countUnreviewed();
}

void HistoryView::countUnreviewed() {
    const int count = m_journal.unreviewedCount();
    if (count != m_unreviewed) {
        m_unreviewed = count;
        emit unreviewedCountChanged(count);
    }
}

void HistoryView::markSelectedReviewed() {
    markReviewed(m_model->alarmIds(m_table->selectionModel()->selectedRows()));
}

void HistoryView::markAllShownReviewed() {
    markReviewed(m_model->shownAlarmIds());
}

void HistoryView::markReviewed(const std::vector<std::int64_t>& ids) {
    if (ids.empty()) {
        return;
    }
    const std::optional<QString> note = m_noteAsker(this, static_cast<int>(ids.size()));
    if (!note) {
        return;
    }
    m_journal.markReviewed(ids, m_reviewer, note->toStdString(), JournalClock::now());
    if (const std::optional<JournalTrouble> trouble = m_journal.trouble()) {
        showErrorBox(this, QStringLiteral("The review could not be recorded: %1.")
                               .arg(qtText(storageErrorText(trouble->error))));
    }
    refresh();
}

void HistoryView::exportShown() {
    if (m_model->shownAlarmCount() == 0) {
        return;
    }
    const QString folder = m_folderChooser(this);
    if (folder.isEmpty()) {
        return;
    }
    const std::vector<JournalRow> rows = m_model->shownRows();
    const ExportResult result = exportJournalRows(rows, m_journal.snapshotFolder(),
                                                  folder.toStdString(), JournalClock::now());
    if (result.error) {
        showErrorBox(this, QStringLiteral("The export into \"%1\" is not complete: %2.")
                               .arg(folder, qtText(storageErrorText(result.error))));
        return;
    }
    m_summary->setText(QStringLiteral("Exported %1 alarm(s) and %2 snapshot(s) to %3")
                           .arg(result.alarms)
                           .arg(result.snapshots)
                           .arg(QString::fromStdString(result.csvFile.string())));
}

void HistoryView::openSnapshot(int row) {
    const JournalRow* alarm = m_model->row(row);
    if (alarm == nullptr || alarm->kind != JournalRow::Kind::alarm) {
        return;
    }
    std::shared_ptr<const KeptSnapshot> snapshot;
    if (!alarm->snapshotName.empty()) {
        QFile file(
            QString::fromStdString((m_journal.snapshotFolder() / alarm->snapshotName).string()));
        if (file.open(QIODevice::ReadOnly) && file.size() <= kMaxSnapshotBytes) {
            const QByteArray bytes = file.readAll();
            snapshot =
                keptSnapshot(std::span(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        }
    }
    AlarmEvent event{alarm->alarmName, alarm->channelId, alarm->timeText,
                     m_journal.snapshotFolder() / alarm->snapshotName};
    event.eventTime = alarm->alarmTime.value_or(alarm->time);
    event.receivedTime = alarm->time;
    auto* viewer = new SnapshotViewer(event, std::move(snapshot), qtText(alarm->site), this);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    connect(viewer, &SnapshotViewer::showVideoRequested, this, &HistoryView::showVideoRequested);
    viewer->open();
}

}  // namespace krt
