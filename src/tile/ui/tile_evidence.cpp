#include "tile/ui/tile_evidence.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QImage>
#include <QMimeData>
#include <QToolButton>
#include <QUrl>

#include "common/ui/message_box.h"
#include "common/ui/qt_text.h"
#include "recording/evidence_file.h"
#include "recording/frame_snapshot.h"
#include "tile/ui/recording_stops.h"
#include "tile/ui/tile_overlay.h"
#include "tile/ui/video_window.h"

namespace krt {
namespace {

constexpr int kClock_ms = 1000;
constexpr int kButtonMargin = 4;

QString pathText(const std::filesystem::path& path) {
    return qtText(path.string());
}

// The snapshot on the clipboard three ways: the JPEG as received, the picture the right way up
// (as the tile shows it) for pasting into a document, and the file for a file manager.
void copyToClipboard(const KeptFrame& frame, const std::filesystem::path& file) {
    auto* data = new QMimeData;  // the clipboard takes it over
    const QByteArray bytes(reinterpret_cast<const char*>(frame.bytes.data()),
                           static_cast<qsizetype>(frame.bytes.size()));
    data->setData(QStringLiteral("image/jpeg"), bytes);
    if (const QImage picture = QImage::fromData(bytes, "JPEG"); !picture.isNull()) {
        // The server sends its pictures upside down; the tile mirrors them.
        data->setImageData(picture.mirrored(false, true));
    }
    data->setUrls({QUrl::fromLocalFile(pathText(file))});
    QApplication::clipboard()->setMimeData(data);
}

}  // namespace

TileEvidence::TileEvidence(VideoWindow* window, TileOverlay* overlay)
    : QObject(window),
      m_window(window),
      m_overlay(overlay),
      m_recordButton(new QToolButton(window)) {
    m_recordButton->setObjectName(QStringLiteral("recordButton"));
    m_recordButton->setText(QStringLiteral("\u25CF"));
    m_recordButton->setCheckable(true);
    m_recordButton->setAutoRaise(true);
    m_recordButton->setFocusPolicy(Qt::NoFocus);
    m_recordButton->setToolTip(QStringLiteral("Record (R)"));
    connect(m_recordButton, &QToolButton::clicked, this, [this] { toggleRecording(); });
    window->installEventFilter(this);
    m_clock.setInterval(kClock_ms);
    connect(&m_clock, &QTimer::timeout, this, &TileEvidence::tick);
    showRecordingState();
}

TileEvidence::~TileEvidence() {
    // The window and its children may be gone already: only the recording is touched.
    if (m_recording) {
        m_recording->setListener({});
        m_recording->stop();
    }
}

bool TileEvidence::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window && event->type() == QEvent::Resize) {
        const QSize button = m_recordButton->sizeHint();
        m_recordButton->setGeometry(m_window->width() - button.width() - kButtonMargin,
                                    kButtonMargin, button.width(), button.height());
        m_overlay->setGeometry(m_window->rect());
    }
    return QObject::eventFilter(watched, event);
}

void TileEvidence::saveSnapshot() {
    const std::optional<VideoChannel> channel = m_window->channel();
    const std::optional<KeptFrame> frame = m_window->feed().newestFrame();
    if (!channel || !frame) {
        m_overlay->showNotice(QStringLiteral("No picture to save yet."));
        return;
    }
    const SnapshotResult saved = krt::saveSnapshot(
        m_settings.folder, cameraName(*channel, m_window->server().m_serverName), *frame);
    if (!saved.file) {
        showErrorBox(m_window, qtText(saved.error));
        return;
    }
    copyToClipboard(*frame, *saved.file);
    m_overlay->showNotice(
        QStringLiteral("Snapshot saved and copied: %1").arg(pathText(*saved.file)));
}

void TileEvidence::toggleRecording() {
    if (m_recording) {
        stopRecording();
        return;
    }
    const std::optional<VideoChannel> channel = m_window->channel();
    if (!channel) {
        showRecordingState();
        return;
    }
    RecordingPlan plan = recordingPlanFor(m_window->server().m_serverAddress, *channel,
                                          m_window->server().m_serverName);
    plan.folder = m_settings.folder;
    plan.maxLength = std::chrono::minutes(m_settings.maxRecordingMinutes);
    auto recording = std::make_shared<ClipRecorder>();
    if (const std::optional<std::string> refused = recording->start(std::move(plan))) {
        showRecordingState();
        showErrorBox(m_window, qtText(*refused));
        return;
    }
    adoptRecording(std::move(recording));
    m_overlay->showNotice(QStringLiteral("Recording into %1").arg(qtText(m_settings.folder)));
    RecordingStops::instance().tellStarted();
}

void TileEvidence::stopRecording() {
    if (const std::shared_ptr<ClipRecorder> recording = m_recording) {
        // Stopped while still listened to, so that the clip saved is told.
        recording->stop();
        takeRecording();
    }
}

std::shared_ptr<ClipRecorder> TileEvidence::takeRecording() {
    std::shared_ptr<ClipRecorder> recording = std::move(m_recording);
    if (recording) {
        recording->setListener({});
    }
    m_window->feed().setRecording(nullptr);
    m_clock.stop();
    showRecordingState();
    return recording;
}

void TileEvidence::adoptRecording(std::shared_ptr<ClipRecorder> recording) {
    if (!recording || !recording->recording()) {
        return;
    }
    m_recording = std::move(recording);
    listenTo(m_recording);
    m_window->feed().setRecording(m_recording);
    m_clock.start();
    showRecordingState();
}

void TileEvidence::finishRecording(std::shared_ptr<ClipRecorder> recording) {
    if (recording) {
        listenTo(recording);
        recording->stop();
        recording->setListener({});
    }
}

void TileEvidence::listenTo(const std::shared_ptr<ClipRecorder>& recording) {
    recording->setListener([this, from = std::weak_ptr(recording)](const RecordingNews& news) {
        // From the receive thread too: shown on the GUI thread.
        QMetaObject::invokeMethod(
            this, [this, news, from] { onNews(news, from); }, Qt::QueuedConnection);
    });
}

void TileEvidence::onNews(const RecordingNews& news, const std::weak_ptr<ClipRecorder>& from) {
    switch (news.kind) {
        case RecordingNews::Kind::ClipSaved:
            // A clip that a lost connection or a move to another tile ended goes on in the next
            // one: only the end of the recording is told.
            if (const std::shared_ptr<ClipRecorder> sender = from.lock();
                !sender || !sender->recording()) {
                m_overlay->showNotice(QStringLiteral("Clip saved: %1").arg(pathText(news.file)));
            }
            break;
        case RecordingNews::Kind::ReachedMax:
            m_overlay->showNotice(QStringLiteral("Recording ended after %1 min, its longest.")
                                      .arg(m_settings.maxRecordingMinutes));
            break;
        case RecordingNews::Kind::Failed:
            // No box: a disk that fills up would stop every tile's recording at once, maybe
            // with no one in front of the screen. The status line keeps saying it.
            // It names the camera as the server does.
            m_overlay->showNotice(qtServerText(news.message));
            RecordingStops::instance().tellStopped(qtServerText(news.message));
            break;
    }
    // A recording that ended by itself leaves the tile.
    if (m_recording && !m_recording->recording()) {
        takeRecording();
    }
}

void TileEvidence::tick() {
    if (m_recording) {
        m_recording->checkLength(std::chrono::steady_clock::now());
    }
    showRecordingState();
}

void TileEvidence::showRecordingState() {
    const bool on = m_recording && m_recording->recording();
    m_recordButton->setChecked(on);
    m_recordButton->setStyleSheet(on ? QStringLiteral("color: rgb(220, 20, 20);") : QString());
    m_recordButton->setToolTip(on ? QStringLiteral("Stop recording (R)")
                                  : QStringLiteral("Record (R)"));
    m_overlay->setRecordingTime(on ? std::optional(static_cast<int>(
                                         std::chrono::duration_cast<std::chrono::seconds>(
                                             m_recording->elapsed(std::chrono::steady_clock::now()))
                                             .count()))
                                   : std::nullopt);
}

}  // namespace krt
