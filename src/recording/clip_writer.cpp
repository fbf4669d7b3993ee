#include "recording/clip_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

namespace krt {
namespace {

namespace fs = std::filesystem;

constexpr AVRational kMilliseconds{1, 1000};

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

// Whole on the disk before it takes its name.
int syncToDisk(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return AVERROR(errno);
    }
    const int result = ::fsync(fd) == 0 ? 0 : AVERROR(errno);
    ::close(fd);
    return result;
}

}  // namespace

void ClipWriter::ContextCloser::operator()(AVFormatContext* context) const {
    avio_closep(&context->pb);
    avformat_free_context(context);
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
    if (!m_packet) {
        return fail(AVERROR(ENOMEM));
    }
    AVFormatContext* context = nullptr;
    const std::string temporary = temporaryPath(path).string();
    // The temporary name's ending names no format: the muxer is named.
    int result = avformat_alloc_output_context2(&context, nullptr, "matroska", temporary.c_str());
    if (result < 0) {
        return fail(result);
    }
    m_context.reset(context);
    AVStream* stream = avformat_new_stream(context, nullptr);
    if (stream == nullptr) {
        return fail(AVERROR(ENOMEM));
    }
    stream->time_base = kMilliseconds;
    AVCodecParameters* codec = stream->codecpar;
    codec->codec_type = AVMEDIA_TYPE_VIDEO;
    codec->codec_id = AV_CODEC_ID_MJPEG;
    codec->width = size.width;
    codec->height = size.height;
    av_dict_set(&context->metadata, "title", std::string(title).c_str(), 0);
    av_dict_set(&context->metadata, "creation_time", utcText(started).c_str(), 0);
    result = avio_open(&context->pb, temporary.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
        return fail(result);
    }
    // Clusters of a second at most go to the disk as they end: a clip that breaks off keeps
    // all but its last second, and a full disk shows within a second.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "cluster_time_limit", "1000", 0);
    av_dict_set(&options, "cluster_size_limit", "1048576", 0);
    result = avformat_write_header(context, &options);
    av_dict_free(&options);
    return result >= 0 || fail(result);
}

bool ClipWriter::write(std::span<const unsigned char> frame, std::chrono::milliseconds sinceStart) {
    if (!m_context) {
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
    const int result = av_write_frame(m_context.get(), packet);
    packet->data = nullptr;
    packet->size = 0;
    if (result < 0) {
        return fail(result);
    }
    m_lastTimestamp_ms = timestamp_ms;
    ++m_frames;
    return true;
}

bool ClipWriter::close(ExistingFile existing) {
    if (!m_context) {
        return false;
    }
    int result = av_write_trailer(m_context.get());
    // The trailer flushes the buffer; closing reports only the file's own close.
    if (result >= 0) {
        result = m_context->pb->error;
    }
    if (result >= 0) {
        result = avio_closep(&m_context->pb);
    }
    if (result >= 0) {
        result = syncToDisk(temporaryPath(m_path));
    }
    if (result < 0) {
        return fail(result);
    }
    m_context.reset();
    std::error_code error;
    if (std::optional<fs::path> placed =
            moveIntoPlace(temporaryPath(m_path), m_path, existing, error)) {
        m_closedPath = std::move(*placed);
        m_path.clear();
        return true;
    }
    m_error = error.message();
    abandon();
    return false;
}

void ClipWriter::abandon() {
    const bool begun = m_context || !m_path.empty();
    m_context.reset();
    if (begun) {
        std::error_code ignored;
        fs::remove(temporaryPath(m_path), ignored);
    }
    m_path.clear();
}

bool ClipWriter::fail(int averror) {
    m_error = averrorText(averror);
    abandon();
    return false;
}

}  // namespace krt
