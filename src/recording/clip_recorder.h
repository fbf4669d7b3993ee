#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/video_channel.h"
#include "media/frame_decoder.h"
#include "recording/clip_writer.h"
#include "recording/disk_space.h"
#include "recording/recording_lock.h"
#include "stream/live_frame.h"

namespace krt {

// What and where one recording writes.
struct RecordingPlan {
    std::string cameraName;  // the files' title, and the start of their names
    std::string cameraKey;   // which camera: one recording of it at a time
    // Each clip into the folder, named after the camera and its first frame's arrival; or,
    // when `file` is set, the first into that file, replacing one of its name, and those that
    // follow it into "file (2)", "file (3)" ...
    std::filesystem::path folder;
    std::optional<std::filesystem::path> file;
    // The recording ends by itself after this long; zero for never.
    std::chrono::milliseconds maxLength{0};
    // A clip goes on in a new file once it is this large: below the 4 GiB a FAT32 stick takes.
    std::int64_t maxClip_bytes = std::int64_t{2} << 30;
    // The track's picture size while no frame has shown its own.
    PictureSize fallbackSize;
};

// A plan for a camera of the catalogue on that server: named after its description (its ID when
// it has none), keyed by the server and its ID; the folder, file and length are left to set.
// `serverName`: the camera's server in the operator's list; empty for the first server.
RecordingPlan recordingPlanFor(std::string_view serverAddress, const VideoChannel& channel,
                               std::string_view serverName = {});

// What became of a recording, for its owner to show.
struct RecordingNews {
    enum class Kind {
        ClipSaved,   // a clip was closed whole under `file`
        ReachedMax,  // the recording ended at its maximum length
        Failed,      // the recording stopped by itself: `message` says why
    };
    Kind kind;
    std::filesystem::path file;
    std::string message;
    int frames = 0;  // the frames the clip saved holds
};

// Records a live stream: every frame it is handed goes, as received, into a Matroska clip. A
// clip ends when the stream ends (a reconnected stream goes on in a new clip), when the
// recording is stopped or reaches its maximum length, or when the file cannot be written or the
// disk nears its end (the last 1 GiB, or 5% of a small one, stays free), which stop the
// recording; what was written is kept. Frames come on the stream's receive thread; the rest on
// any thread.
class ClipRecorder {
  public:
    using Listener = std::function<void(const RecordingNews& news)>;
    // The disk's space is looked at this often while recording, by the frames' arrival, or
    // after this many bytes, whichever comes first.
    static constexpr std::chrono::milliseconds kSpaceCheckPeriod{1000};
    static constexpr std::int64_t kSpaceCheckBytes = 16 * 1024 * 1024;

    ClipRecorder() = default;
    // Stops a recording that still runs, keeping its clip.
    ~ClipRecorder();
    ClipRecorder(const ClipRecorder&) = delete;
    ClipRecorder& operator=(const ClipRecorder&) = delete;

    // Told of every clip saved and of the recording's end; called on the thread that caused it,
    // never while the recorder is locked.
    void setListener(Listener listener);
    // How the free space of the clips' disk is learned: diskSpaceOf unless set otherwise.
    void setDiskSpaceQuery(DiskSpaceQuery query);

    // Starts recording with the next frame. Nothing, or why it cannot start: another recording
    // of the camera runs, the folder cannot be made or written, or its disk is nearly full.
    std::optional<std::string> start(RecordingPlan plan);
    // Ends the recording; its clip is kept.
    void stop();
    bool recording() const;
    // How long the recording has run; zero when none runs.
    std::chrono::milliseconds elapsed(std::chrono::steady_clock::time_point now) const;
    // Ends a recording that has reached its maximum length without a frame to notice it.
    void checkLength(std::chrono::steady_clock::time_point now);

    void onFrame(const LiveFrame& frame);
    // The connection ended: the clip is closed, and the next frame starts another.
    void onStreamEnded();

    int framesRecorded() const;

  private:
    void recordLocked(const LiveFrame& frame, std::vector<RecordingNews>& news);
    bool openClipLocked(const LiveFrame& frame, std::vector<RecordingNews>& news);
    void closeClipLocked(std::vector<RecordingNews>& news);
    bool diskNearlyFullLocked(std::chrono::steady_clock::time_point now,
                              std::vector<RecordingNews>& news);
    ExistingFile existingFileLocked() const;
    RecordingNews clipSavedNewsLocked();
    void endLocked(std::vector<RecordingNews>& news);
    void failLocked(const std::string& what, std::vector<RecordingNews>& news);
    void tell(const std::vector<RecordingNews>& news);

    mutable std::mutex m_mutex;
    std::optional<RecordingPlan> m_plan;  // while recording
    std::optional<RecordingLock> m_lock;
    std::chrono::steady_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_clipStarted;
    ClipWriter m_writer;
    FrameDecoder m_sizeReader;  // reads each clip's picture size from its first frame
    PictureSize m_lastSize;
    int m_frames = 0;
    int m_clipsSaved = 0;
    DiskSpaceQuery m_diskSpace = diskSpaceOf;
    std::optional<std::chrono::steady_clock::time_point> m_lastSpaceCheck;
    std::int64_t m_bytesAtSpaceCheck = 0;
    std::mutex m_listenerMutex;
    Listener m_listener;
};

}  // namespace krt
