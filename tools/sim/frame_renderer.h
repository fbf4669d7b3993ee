#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "frame_scene.h"
#include "protocol/packet_framing.h"

namespace krt::sim {

// RGB pixels, 3 bytes each, top row first; rows are `pitch` bytes apart (a multiple of 4).
struct RasterImage {
    std::vector<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
    int pitch = 0;

    void resize(int newWidth, int newHeight);
    Rgb at(int x, int y) const;
};

// Fills the part of the rectangle that lies in the image with its colour.
void fillRect(RasterImage& image, const SceneRect& rect);

// Draws the texts over the image. Built with Qt it paints with QPainter when a
// QGuiApplication exists (fonts need one); without Qt, or without fonts, it draws nothing.
void drawTexts(std::span<const SceneText> texts, RasterImage& image);

// One TurboJPEG compressor, reused for every frame of a stream.
class JpegEncoder {
  public:
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // The image stored upside down: the client mirrors pictures top to bottom when it draws
    // them, so that the operator sees them upright. Empty when the encoder fails.
    std::string encodeUpsideDown(const RasterImage& image, int quality);

  private:
    void* m_handle;
};

// Renders scenes into JPEG frames of at most `maxBytes`, reusing its pixels and its encoder.
// A scene's backdrop is painted once and then copied for as long as it stays the same, so
// that a still camera-like view costs little more than a flat one.
class FrameRenderer {
  public:
    explicit FrameRenderer(int quality, std::size_t maxBytes = kMaxPayloadLength)
        : m_quality(quality), m_maxBytes(maxBytes) {}
    // A picture too large for its frame goes out coarser rather than not at all: the quality
    // is lowered until it fits, and stays there for the renderer's later pictures.
    std::string render(const Scene& scene);

  private:
    void paint(const Scene& scene);

    int m_quality;
    std::size_t m_maxBytes;
    RasterImage m_image;
    RasterImage m_backdropImage;
    std::optional<Backdrop> m_backdrop;  // what m_backdropImage shows
    JpegEncoder m_encoder;
};

// Grows a JPEG to at least `minBytes` with comment segments right after its start marker; the
// picture is unchanged. Leaves anything that does not start with the JPEG marker alone. A
// segment takes at least 4 bytes, so a JPEG short of the minimum by less than that grows by up
// to kPaddingOvershootBytes more.
void padJpeg(std::string& jpeg, std::size_t minBytes);
inline constexpr std::size_t kPaddingOvershootBytes = 3;

}  // namespace krt::sim
