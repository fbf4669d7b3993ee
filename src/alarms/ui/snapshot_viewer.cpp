#include "alarms/ui/snapshot_viewer.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "alarms/ui/snapshot_actions.h"
#include "alarms/ui/snapshot_store.h"
#include "common/ui/qt_text.h"
#include "media/ui/zoomable_snapshot.h"

namespace krt {

SnapshotViewer::SnapshotViewer(const AlarmEvent& event,
                               std::shared_ptr<const KeptSnapshot> snapshot, QString server,
                               QWidget* parent)
    : QDialog(parent),
      m_event(event),
      m_server(std::move(server)),
      m_snapshot(std::move(snapshot)),
      m_description(new QLabel(this)),
      m_picture(new ZoomableSnapshot(this)),
      m_showVideo(new QPushButton(QStringLiteral("Show Video"), this)),
      m_save(new QPushButton(QString::fromUtf8(kSaveSnapshotText), this)),
      m_copy(new QPushButton(QString::fromUtf8(kCopySnapshotText), this)) {
    setWindowTitle(QStringLiteral("Snapshot"));
    m_picture->setObjectName(QStringLiteral("snapshotPicture"));
    m_picture->setMinimumSize(320, 240);
    m_picture->setPicture(m_snapshot != nullptr ? m_snapshot->picture : QImage());
    m_picture->addZoomKeys(this);
    // Server text is shown as the characters it is.
    m_description->setTextFormat(Qt::PlainText);
    m_description->setText(QStringLiteral("Camera ID : %1\nType : %2\n%3")
                               .arg(qtServerText(event.channelId), qtServerText(event.alarmName),
                                    qtText(event.timeText)));
    const bool picture = m_snapshot != nullptr && m_snapshot->isPicture();
    m_save->setEnabled(picture);
    m_copy->setEnabled(picture);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(m_showVideo, QDialogButtonBox::ActionRole);
    buttons->addButton(m_save, QDialogButtonBox::ActionRole);
    buttons->addButton(m_copy, QDialogButtonBox::ActionRole);
    m_showVideo->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_description);
    layout->addWidget(m_picture, 1);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_showVideo, &QPushButton::clicked, this, [this] {
        // The channel as received, for the lookup, not as shown.
        emit showVideoRequested(m_server, QString::fromStdString(m_event.channelId));
        accept();
    });
    connect(m_save, &QPushButton::clicked, this,
            [this] { saveSnapshotAs(this, m_event, *m_snapshot); });
    connect(m_copy, &QPushButton::clicked, this, [this] { copySnapshot(*m_snapshot); });
    resize(720, 600);
}

QWidget* SnapshotViewer::pictureView() const {
    return m_picture;
}

}  // namespace krt
