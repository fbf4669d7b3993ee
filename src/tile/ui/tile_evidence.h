#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

#include "common/app_state.h"
#include "recording/clip_recorder.h"
#include "tile/video_settings.h"

class QToolButton;

namespace krt {

class TileOverlay;
class VideoWindow;

// What a tile keeps of its camera: a snapshot of the newest frame (saved, copied to the
// clipboard, a notice says where), and a recording of its stream that the Record toggle starts
// and stops, with the red mark and the time on the picture while it runs; one that stops by
// itself (a full disk) says why on the tile and, through RecordingStops, on the status line. A
// recording follows its camera when the page moves the camera to another tile.
class TileEvidence : public QObject {
    Q_OBJECT

  public:
    TileEvidence(VideoWindow* window, TileOverlay* overlay);
    ~TileEvidence() override;
    TileEvidence(const TileEvidence&) = delete;
    TileEvidence& operator=(const TileEvidence&) = delete;

    void setSettings(const EvidenceSettings& settings) { m_settings = settings; }
    const EvidenceSettings& settings() const { return m_settings; }

    void saveSnapshot();
    void toggleRecording();
    void stopRecording();
    bool recording() const { return static_cast<bool>(m_recording); }
    // The recording of the tile's camera, handed over to the tile that shows the camera next;
    // the tile is left without one.
    std::shared_ptr<ClipRecorder> takeRecording();
    void adoptRecording(std::shared_ptr<ClipRecorder> recording);
    // Stops a recording whose camera has left the page; the notice says where its clip went.
    void finishRecording(std::shared_ptr<ClipRecorder> recording);

    QToolButton* recordButton() const { return m_recordButton; }

  protected:
    // Keeps the Record toggle in the window's top right corner and the overlay over it.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void onNews(const RecordingNews& news, const std::weak_ptr<ClipRecorder>& from);
    void listenTo(const std::shared_ptr<ClipRecorder>& recording);
    void showRecordingState();
    void tick();

    VideoWindow* m_window;
    TileOverlay* m_overlay;
    QToolButton* m_recordButton;
    EvidenceSettings m_settings;
    std::shared_ptr<ClipRecorder> m_recording;
    QTimer m_clock;  // the recording's time, and its end at its longest
};

}  // namespace krt
