#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "media/picture_size.h"
#include "recording/evidence_file.h"

struct AVFormatContext;
struct AVPacket;

namespace krt {

// Writes received Motion JPEG frames, unchanged, into a Matroska file through libavformat: one
// video track, one block per frame, each stamped in milliseconds from the clip's start. The file
// is written under its temporary name (temporaryPath) and takes its own name only when it is closed
// whole; one that fails, or is abandoned, is removed. Not for use by two threads at once.
class ClipWriter {
  public:
    ClipWriter();
    // Abandons a clip still open.
    ~ClipWriter();
    ClipWriter(const ClipWriter&) = delete;
    ClipWriter& operator=(const ClipWriter&) = delete;

    // Starts a clip of pictures of that size (the track's header names one size; each frame
    // still carries its own). `title` and `started` go into the file's header. False when the
    // file cannot be made; error() says why.
    bool open(const std::filesystem::path& path, PictureSize size, std::string_view title,
              std::chrono::system_clock::time_point started);
    // Appends one frame as it is. Timestamps that do not grow are moved on by a millisecond,
    // so that every frame keeps a time of its own. False when the file cannot take it: the
    // clip is then abandoned.
    bool write(std::span<const unsigned char> frame, std::chrono::milliseconds sinceStart);
    // Finishes the clip and gives it its name. With ExistingFile::Keep a file of that name is
    // left alone and the clip takes the name with " (2)", " (3)" ... before its extension.
    // False when it cannot be finished: the clip is then abandoned.
    bool close(ExistingFile existing);
    // Removes the clip begun.
    void abandon();

    bool isOpen() const { return static_cast<bool>(m_context); }
    int framesWritten() const { return m_frames; }
    // The name the last clip closed took.
    const std::filesystem::path& closedPath() const { return m_closedPath; }
    // What the last failure was, in a few words ("No space left on device").
    const std::string& error() const { return m_error; }

  private:
    struct ContextCloser {
        void operator()(AVFormatContext* context) const;
    };
    struct PacketFreer {
        void operator()(AVPacket* packet) const;
    };

    bool fail(int averror);

    std::unique_ptr<AVFormatContext, ContextCloser> m_context;
    std::unique_ptr<AVPacket, PacketFreer> m_packet;
    std::filesystem::path m_path;
    std::filesystem::path m_closedPath;
    std::int64_t m_lastTimestamp_ms = -1;
    int m_frames = 0;
    std::string m_error;
};

}  // namespace krt
