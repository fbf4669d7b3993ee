#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/private_file.h"
#include "media/picture_size.h"
#include "recording/evidence_file.h"

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

namespace krt {

// Writes received Motion JPEG frames, unchanged, into a Matroska file through libavformat: one
// video track, one block per frame, each stamped in milliseconds from the clip's start. The file
// is the user's alone (common/private_file.h): written under a temporary name of its own through
// our descriptor, and given its name when it is closed. A write the disk refuses (full, or the
// file too large for it) ends the clip, and closing it keeps every cluster that reached the disk
// whole. Not for use by two threads at once.
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
    // so that every frame keeps a time of its own. False when the file cannot take it
    // (error() says why): nothing more goes in, and close() keeps what is on the disk.
    bool write(std::span<const unsigned char> frame, std::chrono::milliseconds sinceStart);
    // Finishes the clip and gives it its name. With ExistingFile::Keep a file of that name is
    // left alone and the clip takes the name with " (2)", " (3)" ... before its extension.
    // When a write failed, or the index at the end cannot be written, the clip is cut back to
    // its frames that reached the disk whole, which a player still plays (cutShort() then, and
    // error() says why). False when not even that is left: the clip is then removed.
    bool close(ExistingFile existing);
    // Removes the clip begun.
    void abandon();

    bool isOpen() const { return static_cast<bool>(m_context); }
    // The frames of the clip, or of the last one closed: those kept when it was cut short.
    int framesWritten() const { return m_frames; }
    // The bytes that went to the disk so far.
    std::int64_t bytesWritten() const { return m_bytesWritten; }
    // The name the last clip closed took.
    const std::filesystem::path& closedPath() const { return m_closedPath; }
    // The last clip closed lost its end to a failed write.
    bool cutShort() const { return m_cutShort; }
    // What the last failure was, in a few words ("No space left on device").
    const std::string& error() const { return m_error; }

  private:
    struct ContextFreer {
        void operator()(AVFormatContext* context) const;
    };
    struct OutputFreer {
        void operator()(AVIOContext* output) const;
    };
    struct PacketFreer {
        void operator()(AVPacket* packet) const;
    };

    static int writeToFile(void* writer, std::uint8_t* bytes, int size);
    static std::int64_t seekInFile(void* writer, std::int64_t offset, int whence);
    bool openOutput();
    bool failToOpen(int averror);
    bool failToWrite(int averror);
    bool keepWholePart();
    bool putInPlace(ExistingFile existing);

    // In this order, so that each is freed before what it writes into.
    std::optional<PrivateTemporaryFile> m_file;
    std::unique_ptr<AVIOContext, OutputFreer> m_output;
    std::unique_ptr<AVFormatContext, ContextFreer> m_context;
    std::unique_ptr<AVPacket, PacketFreer> m_packet;
    std::filesystem::path m_path;
    std::filesystem::path m_closedPath;
    std::int64_t m_lastTimestamp_ms = -1;
    int m_frames = 0;
    std::int64_t m_position = 0;  // where the next byte goes
    std::int64_t m_bytesWritten = 0;
    // The file up to here holds whole clusters, of this many frames.
    std::int64_t m_wholeBytes = 0;
    int m_wholeFrames = 0;
    bool m_writeFailed = false;
    bool m_cutShort = false;
    std::string m_error;
};

}  // namespace krt
