#include "alarms/ui/event_alert_dialog.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <algorithm>

#include "alarms/alert_layout.h"
#include "alarms/ui/snapshot_actions.h"
#include "alarms/ui/snapshot_store.h"
#include "common/ui/dialog_template.h"
#include "common/ui/qt_text.h"
#include "media/ui/zoomable_snapshot.h"

namespace krt {
namespace {

constexpr QColor kAlertColour(255, 128, 128);
constexpr int kCaptionPadding = 3;
constexpr int kOutlineInset = 2;
constexpr QColor kLateColour(128, 0, 0);

// The light red area under the caption, with a raised edge and a black outline inset by two.
class AlertClientArea : public QWidget {
  public:
    explicit AlertClientArea(QWidget* parent) : QWidget(parent) {
        QPalette colours = palette();
        colours.setColor(QPalette::Window, kAlertColour);
        setPalette(colours);
        setAutoFillBackground(true);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect area = rect();
        painter.setPen(palette().color(QPalette::Light));
        painter.drawLine(area.topLeft(), area.topRight());
        painter.drawLine(area.topLeft(), area.bottomLeft());
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawLine(area.bottomLeft(), area.bottomRight());
        painter.drawLine(area.topRight(), area.bottomRight());
        painter.setPen(Qt::black);
        painter.drawRect(kOutlineInset, kOutlineInset, width() - 2 * kOutlineInset - 1,
                         height() - 2 * kOutlineInset - 1);
    }
};

QLabel* newStatic(const QString& text, QWidget* parent, const DialogRect& units) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    placeFromTemplate(label, units);
    return label;
}

}  // namespace

EventAlertDialog::EventAlertDialog(QWidget* sheet)
    : QDialog(sheet),
      m_caption(new QLabel(QStringLiteral("Event Alert"), this)),
      m_client(new AlertClientArea(this)),
      m_typeLabel(newStatic(QStringLiteral("Type : "), m_client, {7, 7, 30, 8})),
      m_sourceLabel(newStatic(QStringLiteral("Source : "), m_client, {7, 19, 30, 8})),
      m_timeLabel(newStatic(QStringLiteral("Time :"), m_client, {7, 31, 30, 8})),
      m_typeValue(newStatic(QStringLiteral("Static"), m_client, {42, 7, 134, 8})),
      m_sourceValue(newStatic(QStringLiteral("Static"), m_client, {42, 19, 134, 8})),
      m_timeValue(newStatic(QStringLiteral("Static"), m_client, {42, 31, 134, 8})),
      m_showVideo(new QPushButton(QStringLiteral("Show Video"), m_client)),
      m_close(new QPushButton(QStringLiteral("Close"), m_client)),
      m_saveSnapshot(new QPushButton(QString::fromUtf8(kSaveSnapshotText), m_client)),
      m_copySnapshot(new QPushButton(QString::fromUtf8(kCopySnapshotText), m_client)),
      m_lateNote(new QLabel(m_client)),
      m_snapshotView(new ZoomableSnapshot(m_client)) {
    setObjectName(QStringLiteral("DEventsAlertDlg"));
    // A window inside the sheet rather than one of its own.
    setWindowFlags(Qt::Widget);
    setWindowTitle(m_caption->text());
    m_caption->setTextFormat(Qt::PlainText);
    m_caption->setAutoFillBackground(true);
    m_caption->setContentsMargins(kCaptionPadding, kCaptionPadding, kCaptionPadding,
                                  kCaptionPadding);
    QPalette captionColours = m_caption->palette();
    captionColours.setColor(QPalette::Window, palette().color(QPalette::Highlight));
    captionColours.setColor(QPalette::WindowText, palette().color(QPalette::HighlightedText));
    m_caption->setPalette(captionColours);
    QFont captionFont = m_caption->font();
    captionFont.setBold(true);
    m_caption->setFont(captionFont);

    placeFromTemplate(m_showVideo, {35, 55, 50, 14});
    placeFromTemplate(m_close, {97, 55, 50, 14});
    m_close->resize(m_showVideo->size());
    m_showVideo->setDefault(true);
    connect(m_showVideo, &QPushButton::clicked, this, &EventAlertDialog::accept);
    connect(m_close, &QPushButton::clicked, this, &EventAlertDialog::reject);
    setupSnapshotControls();
    const DialogRect size = dialogUnitsToPixels({0, 0, 183, 83}, dialogBaseUnits(font()));
    resize(size.width, size.height);
    hide();
}

void EventAlertDialog::setTexts(std::string_view type, std::string_view source,
                                std::string_view time) {
    setServerText(*m_typeValue, type);
    setServerText(*m_sourceValue, source);
    setServerText(*m_timeValue, time);
    m_sourceChannelId = source;
}

void EventAlertDialog::setupSnapshotControls() {
    const int snapshotButtonWidth =
        std::max(m_saveSnapshot->sizeHint().width(), m_copySnapshot->sizeHint().width());
    for (QPushButton* button : {m_saveSnapshot, m_copySnapshot}) {
        button->setAutoDefault(false);
        button->resize(snapshotButtonWidth, m_showVideo->height());
    }
    connect(m_saveSnapshot, &QPushButton::clicked, this, &EventAlertDialog::saveShownSnapshot);
    connect(m_copySnapshot, &QPushButton::clicked, this, &EventAlertDialog::copyShownSnapshot);
    m_lateNote->setTextFormat(Qt::PlainText);
    QPalette noteColours = m_lateNote->palette();
    noteColours.setColor(QPalette::WindowText, kLateColour);
    m_lateNote->setPalette(noteColours);
    QFont noteFont = m_lateNote->font();
    noteFont.setBold(true);
    m_lateNote->setFont(noteFont);
    m_lateNote->hide();
    m_snapshotView->addZoomKeys(this);
    setEvent({}, nullptr);
}

void EventAlertDialog::setEvent(const AlarmEvent& event,
                                std::shared_ptr<const KeptSnapshot> snapshot) {
    m_event = event;
    m_snapshot = std::move(snapshot);
    // Which server's camera: two servers may both have a camera "1".
    if (!event.site.empty() && event.channelId == m_sourceChannelId) {
        setServerText(*m_sourceValue, m_sourceChannelId + " (" + event.site + ")");
    }
    const bool kept = m_snapshot != nullptr && m_snapshot->isPicture();
    m_saveSnapshot->setEnabled(kept);
    m_copySnapshot->setEnabled(kept);
    m_snapshotView->setPicture(m_snapshot != nullptr ? m_snapshot->picture : QImage());
    const bool late = event.punctuality == Punctuality::Late;
    m_lateNote->setText(late ? qtText(lateAlarmNote(event.eventTime, event.receivedTime))
                             : QString());
    m_lateNote->adjustSize();
    m_lateNote->setVisible(late);
    layoutControls();
}

QWidget* EventAlertDialog::snapshotArea() const {
    return m_snapshotView;
}

void EventAlertDialog::saveShownSnapshot() {
    if (m_snapshot != nullptr) {
        // The alert may be replaced while the file dialog is open; this snapshot stays.
        const std::shared_ptr<const KeptSnapshot> snapshot = m_snapshot;
        const AlarmEvent event = m_event;
        saveSnapshotAs(this, event, *snapshot);
    }
}

void EventAlertDialog::copyShownSnapshot() {
    if (m_snapshot != nullptr) {
        copySnapshot(*m_snapshot);
    }
}

void EventAlertDialog::accept() {
    emit showVideoRequested(qtText(m_event.site), qtText(m_sourceChannelId));
    hide();
}

void EventAlertDialog::reject() {
    hide();
}

void EventAlertDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int captionHeight = m_caption->sizeHint().height();
    m_caption->setGeometry(0, 0, width(), captionHeight);
    m_client->setGeometry(0, captionHeight, width(), height() - captionHeight);
    layoutControls();
}

void EventAlertDialog::layoutControls() {
    const AlertDialogLayout layout =
        layoutAlertDialog({m_client->width(), m_typeLabel->height(), m_sourceLabel->height(),
                           m_timeLabel->width(), m_typeValue->height(), m_sourceValue->height(),
                           m_timeValue->height(), m_showVideo->width()});
    moveTo(m_typeLabel, layout.typeLabel);
    moveTo(m_sourceLabel, layout.sourceLabel);
    moveTo(m_timeLabel, layout.timeLabel);
    moveTo(m_typeValue, layout.typeValue);
    moveTo(m_sourceValue, layout.sourceValue);
    moveTo(m_timeValue, layout.timeValue);
    moveTo(m_showVideo, layout.showVideo);
    moveTo(m_close, layout.close);

    const AlertSnapshotLayout below = layoutAlertSnapshot(
        {m_client->width(), m_client->height(), layout.showVideo.y, m_showVideo->height(),
         m_saveSnapshot->width(), m_lateNote->isVisibleTo(m_client) ? m_lateNote->height() : 0});
    moveTo(m_saveSnapshot, below.saveSnapshot);
    moveTo(m_copySnapshot, below.copySnapshot);
    moveTo(m_lateNote, below.lateNote);
    m_snapshotView->setGeometry(below.snapshot.x, below.snapshot.y, below.snapshot.width,
                                below.snapshot.height);
}

}  // namespace krt
