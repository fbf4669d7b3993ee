#include "recording/clip_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace krt {
namespace {

namespace fs = std::filesystem;

constexpr AVRational kMilliseconds{1, 1000};
constexpr int kOutputBuffer_bytes = 64 * 1024;

std::string averrorText(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}

// ISO 8601 in UTC, as libavformat reads a creation time.
std::string utcText(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace

void ClipWriter::ContextFreer::operator()(AVFormatContext* context) const {
    avformat_free_context(context);
}

void ClipWriter::OutputFreer::operator()(AVIOContext* output) const {
    av_freep(&output->buffer);
    avio_context_free(&output);
}

void ClipWriter::PacketFreer::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}

ClipWriter::ClipWriter() : m_packet(av_packet_alloc()) {}

ClipWriter::~ClipWriter() {
    abandon();
}

bool ClipWriter::open(const fs::path& path, PictureSize size, std::string_view title,
                      std::chrono::system_clock::time_point started) {
    abandon();
    m_error.clear();
    m_path = path;
    m_frames = 0;
    m_lastTimestamp_ms = -1;
    m_position = m_bytesWritten = m_wholeBytes = 0;
    m_wholeFrames = 0;
    m_writeFailed = false;
    if (!m_packet) {
        return failToOpen(AVERROR(ENOMEM));
    }
    m_file.emplace(path);
    if (m_file->error()) {
        return failToOpen(AVERROR(m_file->error().value()));
    }
    AVFormatContext* context = nullptr;
    int result = avformat_alloc_output_context2(&context, nullptr, "matroska", nullptr);
    if (result < 0) {
        return failToOpen(result);
    }
    m_context.reset(context);
    if (!openOutput()) {
        return failToOpen(AVERROR(ENOMEM));
    }
    AVStream* stream = avformat_new_stream(context, nullptr);
    if (stream == nullptr) {
        return failToOpen(AVERROR(ENOMEM));
    }
    stream->time_base = kMilliseconds;
    AVCodecParameters* codec = stream->codecpar;
    codec->codec_type = AVMEDIA_TYPE_VIDEO;
    codec->codec_id = AV_CODEC_ID_MJPEG;
    codec->width = size.width;
    codec->height = size.height;
    av_dict_set(&context->metadata, "title", std::string(title).c_str(), 0);
    av_dict_set(&context->metadata, "creation_time", utcText(started).c_str(), 0);
    // Clusters of a second at most go to the disk as they end: a clip that breaks off keeps
    // all but its last second, and a full disk shows within a second.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "cluster_time_limit", "1000", 0);
    av_dict_set(&options, "cluster_size_limit", "1048576", 0);
    result = avformat_write_header(context, &options);
    av_dict_free(&options);
    if (result >= 0) {
        avio_flush(m_output.get());
        result = m_output->error;
    }
    if (result < 0) {
        return failToOpen(result);
    }
    m_wholeBytes = m_position;
    return true;
}

// libavformat writes through our descriptor: the file's mode and exclusive creation are ours,
// and every error of the disk shows here.
bool ClipWriter::openOutput() {
    auto* buffer = static_cast<unsigned char*>(av_malloc(kOutputBuffer_bytes));
    if (buffer == nullptr) {
        return false;
    }
    AVIOContext* output =
        avio_alloc_context(buffer, kOutputBuffer_bytes, 1, this, nullptr, writeToFile, seekInFile);
    if (output == nullptr) {
        av_free(buffer);
        return false;
    }
    m_output.reset(output);
    m_context->pb = output;
    return true;
}

int ClipWriter::writeToFile(void* writer, std::uint8_t* bytes, int size) {
    auto& self = *static_cast<ClipWriter*>(writer);
    if (!writeAll(self.m_file->fd(), std::span<const unsigned char>(bytes, size))) {
        return AVERROR(errno);
    }
    self.m_position += size;
    self.m_bytesWritten += size;
    return size;
}

std::int64_t ClipWriter::seekInFile(void* writer, std::int64_t offset, int whence) {
    const int fd = static_cast<ClipWriter*>(writer)->m_file->fd();
    if (whence == AVSEEK_SIZE) {
        struct stat status {};
        return ::fstat(fd, &status) == 0 ? status.st_size : AVERROR(errno);
    }
    const off_t at = ::lseek(fd, offset, whence & ~AVSEEK_FORCE);
    if (at < 0) {
        return AVERROR(errno);
    }
    static_cast<ClipWriter*>(writer)->m_position = at;
    return at;
}

bool ClipWriter::write(std::span<const unsigned char> frame, std::chrono::milliseconds sinceStart) {
    if (!m_context || m_writeFailed) {
        return false;
    }
    const std::int64_t timestamp_ms =
        std::max<std::int64_t>({sinceStart.count(), m_lastTimestamp_ms + 1, std::int64_t{0}});
    AVStream* stream = m_context->streams[0];
    AVPacket* packet = m_packet.get();
    av_packet_unref(packet);
    // Not reference-counted: the muxer takes the bytes where they lie, without a copy.
    packet->data = const_cast<std::uint8_t*>(frame.data());
    packet->size = static_cast<int>(frame.size());
    packet->stream_index = 0;
    packet->flags = AV_PKT_FLAG_KEY;
    packet->pts = av_rescale_q(timestamp_ms, kMilliseconds, stream->time_base);
    packet->dts = packet->pts;
    const std::int64_t writtenBefore = m_bytesWritten;
    int result = av_write_frame(m_context.get(), packet);
    packet->data = nullptr;
    packet->size = 0;
    if (result >= 0) {
        result = m_output->error;
    }
    if (result < 0) {
        return failToWrite(result);
    }
    // The muxer hands a cluster over whole when the next frame begins another, and flushes it:
    // the file then ends after the frames before this one.
    if (m_bytesWritten != writtenBefore && m_output->buf_ptr == m_output->buffer) {
        m_wholeBytes = m_position;
        m_wholeFrames = m_frames;
    }
    m_lastTimestamp_ms = timestamp_ms;
    ++m_frames;
    return true;
}

bool ClipWriter::close(ExistingFile existing) {
    if (!m_context) {
        return false;
    }
    m_cutShort = m_writeFailed;
    if (!m_writeFailed) {
        int result = av_write_trailer(m_context.get());
        if (result >= 0) {
            avio_flush(m_output.get());
            result = m_output->error;
        }
        if (result < 0) {
            m_error = averrorText(result);
            m_cutShort = true;
        }
    }
    m_context.reset();
    m_output.reset();
    if (m_cutShort && !keepWholePart()) {
        abandon();
        return false;
    }
    return putInPlace(existing);
}

// What follows the last whole cluster is a part the disk refused: without it the clip ends
// cleanly, though without the index and duration the end would have written.
bool ClipWriter::keepWholePart() {
    if (m_wholeFrames == 0) {
        return false;
    }
    if (::ftruncate(m_file->fd(), m_wholeBytes) != 0) {
        m_error = averrorText(AVERROR(errno));
        return false;
    }
    m_frames = m_wholeFrames;
    return true;
}

bool ClipWriter::putInPlace(ExistingFile existing) {
    std::error_code error;
    std::optional<fs::path> placed = commitEvidence(*m_file, m_path, existing, error);
    m_file.reset();
    m_path.clear();
    if (!placed) {
        m_error = error.message();
        return false;
    }
    m_closedPath = std::move(*placed);
    return true;
}

void ClipWriter::abandon() {
    m_context.reset();
    m_output.reset();
    // Its destructor removes the temporary file.
    m_file.reset();
    m_path.clear();
}

bool ClipWriter::failToOpen(int averror) {
    m_error = averrorText(averror);
    abandon();
    return false;
}

bool ClipWriter::failToWrite(int averror) {
    m_error = averrorText(averror);
    m_writeFailed = true;
    return false;
}

}  // namespace krt
