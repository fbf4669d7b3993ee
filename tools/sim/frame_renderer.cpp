#include "frame_renderer.h"

#include <algorithm>
#include <stdexcept>

#include <turbojpeg.h>

#include "camera_backdrop.h"

namespace krt::sim {

void RasterImage::resize(int newWidth, int newHeight) {
    width = newWidth;
    height = newHeight;
    pitch = (width * 3 + 3) / 4 * 4;
    pixels.resize(static_cast<std::size_t>(pitch) * static_cast<std::size_t>(height));
}

Rgb RasterImage::at(int x, int y) const {
    const std::size_t offset = static_cast<std::size_t>(y) * static_cast<std::size_t>(pitch) +
                               static_cast<std::size_t>(x) * 3;
    return {pixels[offset], pixels[offset + 1], pixels[offset + 2]};
}

JpegEncoder::JpegEncoder() : m_handle(tjInitCompress()) {
    if (m_handle == nullptr) {
        throw std::runtime_error("TurboJPEG compressor unavailable");
    }
}

JpegEncoder::~JpegEncoder() {
    tjDestroy(m_handle);
}

std::string JpegEncoder::encodeUpsideDown(const RasterImage& image, int quality) {
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    // Reading the rows bottom-up stores the picture upside down at no cost.
    const int result =
        tjCompress2(m_handle, image.pixels.data(), image.width, image.pitch, image.height, TJPF_RGB,
                    &jpeg, &size, TJSAMP_420, quality, TJFLAG_BOTTOMUP);
    std::string bytes;
    if (result == 0) {
        bytes.assign(reinterpret_cast<const char*>(jpeg), size);
    }
    tjFree(jpeg);
    return bytes;
}

void fillRect(RasterImage& image, const SceneRect& rect) {
    const int left = std::clamp(rect.x, 0, image.width);
    const int right = std::clamp(rect.x + rect.width, 0, image.width);
    const int top = std::clamp(rect.y, 0, image.height);
    const int bottom = std::clamp(rect.y + rect.height, 0, image.height);
    for (int row = top; row < bottom; ++row) {
        std::uint8_t* pixel =
            image.pixels.data() +
            static_cast<std::size_t>(row) * static_cast<std::size_t>(image.pitch) +
            static_cast<std::size_t>(left) * 3;
        for (int column = left; column < right; ++column) {
            *pixel++ = rect.colour.r;
            *pixel++ = rect.colour.g;
            *pixel++ = rect.colour.b;
        }
    }
}

void FrameRenderer::paint(const Scene& scene) {
    if (scene.backdrop) {
        if (m_backdrop != scene.backdrop) {
            paintBackdrop(*scene.backdrop, m_backdropImage);
            drawTexts(backdropTexts(*scene.backdrop), m_backdropImage);
            m_backdrop = scene.backdrop;
        }
        m_image = m_backdropImage;
    } else {
        m_image.resize(scene.width, scene.height);
        fillRect(m_image, {0, 0, scene.width, scene.horizonY, kSkyColour});
        fillRect(m_image,
                 {0, scene.horizonY, scene.width, scene.height - scene.horizonY, kGroundColour});
    }
    for (const SceneRect& rect : scene.rects) {
        if (rect.surface == Surface::Vehicle) {
            paintVehicle(rect, m_image);
        } else {
            fillRect(m_image, rect);
        }
    }
    drawTexts(scene.texts, m_image);
}

std::string FrameRenderer::render(const Scene& scene) {
    paint(scene);
    std::string jpeg = m_encoder.encodeUpsideDown(m_image, m_quality);
    while (jpeg.size() > m_maxBytes && m_quality > 1) {
        m_quality = std::max(1, m_quality * 2 / 3);
        jpeg = m_encoder.encodeUpsideDown(m_image, m_quality);
    }
    return jpeg;
}

void padJpeg(std::string& jpeg, std::size_t minBytes) {
    constexpr std::size_t kMarkerBytes = 2;
    constexpr std::size_t kSegmentHeaderBytes = 4;  // marker and 16-bit length
    constexpr std::size_t kMaxSegmentPayload = 0xFFFF - 2;
    if (jpeg.size() < kMarkerBytes || static_cast<unsigned char>(jpeg[0]) != 0xFF ||
        static_cast<unsigned char>(jpeg[1]) != 0xD8) {
        return;
    }
    std::string padding;
    while (jpeg.size() + padding.size() < minBytes) {
        const std::size_t missing = minBytes - jpeg.size() - padding.size();
        const std::size_t payload = std::min(
            kMaxSegmentPayload, missing > kSegmentHeaderBytes ? missing - kSegmentHeaderBytes : 0);
        const std::size_t length = payload + 2;
        padding += '\xFF';
        padding += '\xFE';
        padding += static_cast<char>(length >> 8);
        padding += static_cast<char>(length & 0xFF);
        padding.append(payload, ' ');
    }
    jpeg.insert(kMarkerBytes, padding);
}

}  // namespace krt::sim
