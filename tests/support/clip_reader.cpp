#include "support/clip_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <memory>

namespace krt::test {
namespace {

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

}  // namespace

std::optional<ClipContents> readClip(const std::filesystem::path& path) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) {
        return std::nullopt;
    }
    const std::unique_ptr<AVFormatContext, InputCloser> context(opened);
    // The header says it all; no frame is decoded (a clip may hold frames that do not decode).
    if (context->nb_streams != 1) {
        return std::nullopt;
    }
    const AVStream* stream = context->streams[0];
    ClipContents clip;
    clip.format = context->iformat->name;
    clip.codec = avcodec_get_name(stream->codecpar->codec_id);
    clip.width = stream->codecpar->width;
    clip.height = stream->codecpar->height;
    if (const AVDictionaryEntry* title = av_dict_get(context->metadata, "title", nullptr, 0)) {
        clip.title = title->value;
    }
    clip.duration_s = static_cast<double>(context->duration) / AV_TIME_BASE;
    const std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    while (av_read_frame(context.get(), packet.get()) >= 0) {
        clip.frames.push_back(
            {std::vector<unsigned char>(packet->data, packet->data + packet->size),
             av_rescale_q(packet->pts, stream->time_base, AVRational{1, 1000})});
        av_packet_unref(packet.get());
    }
    return clip;
}

}  // namespace krt::test
