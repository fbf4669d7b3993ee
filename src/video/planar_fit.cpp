#include "video/planar_fit.h"

#include <algorithm>

namespace krt {
namespace {

constexpr int kPixelBytes = 4;
constexpr int kSampleBytes = 1;

std::size_t area(PictureSize size) {
    return static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height);
}

}  // namespace

PlanarFit::PlanarFit(InstructionSet ceiling) : m_resampler(ceiling), m_ycc(ceiling) {}

bool PlanarFit::decode(JpegRowReader& reader, PictureSize targetSize, unsigned char* target) {
    m_targetSize = targetSize;
    m_target = target;
    m_fullSizeRows = 0;
    m_converted = 0;
    return reader.decodePlanes(*this) && m_converted == targetSize.height;
}

std::array<unsigned char*, PlanarFit::kPlanes> PlanarFit::planes(const PlaneLayout& layout) {
    m_layout = layout;
    m_resampler.prepare(layout.luma, m_targetSize, kSampleBytes);
    const auto lumaBytes = static_cast<std::size_t>(layout.lumaStride) * layout.lumaRows;
    const auto chromaBytes = static_cast<std::size_t>(layout.chromaStride) * layout.chromaRows;
    m_decoded.resize(lumaBytes + 2 * chromaBytes);
    m_decodedPlanes = {m_decoded.data(), m_decoded.data() + lumaBytes,
                       m_decoded.data() + lumaBytes + chromaBytes};
    m_fitted.resize(kPlanes * area(m_targetSize));
    m_planes[0] = {m_decodedPlanes[0], static_cast<std::size_t>(layout.lumaStride)};
    // Full-size chroma rows: two samples for each half-size one.
    const auto fullStride = 2 * static_cast<std::size_t>(layout.chroma.width);
    if (layout.halfChroma()) {
        m_fullSize.resize(2 * fullStride * static_cast<std::size_t>(layout.luma.height));
    }
    for (std::size_t chroma = 1; chroma < kPlanes; ++chroma) {
        m_planes[chroma] =
            layout.halfChroma()
                ? Plane{m_fullSize.data() + (chroma - 1) * fullStride * layout.luma.height,
                        fullStride}
                : Plane{m_decodedPlanes[chroma], static_cast<std::size_t>(layout.chromaStride)};
    }
    for (std::size_t plane = 0; plane < kPlanes; ++plane) {
        m_planes[plane].fitted = m_fitted.data() + plane * area(m_targetSize);
        m_planes[plane].fittedRows = 0;
    }
    return m_decodedPlanes;
}

void PlanarFit::rowsDecoded(int lumaRows, int chromaRows) {
    fitRows(m_planes[0], lumaRows);
    if (m_layout.halfChroma()) {
        upsampleRows(chromaRows);
        chromaRows = m_fullSizeRows;
    }
    fitRows(m_planes[1], chromaRows);
    fitRows(m_planes[2], chromaRows);
    const int fitted =
        std::min({m_planes[0].fittedRows, m_planes[1].fittedRows, m_planes[2].fittedRows});
    for (; m_converted < fitted; ++m_converted) {
        // Stored bottom-up: the picture's top row is the buffer's last.
        const auto line = static_cast<std::size_t>(m_targetSize.height - 1 - m_converted);
        m_ycc.convert(fittedRow(m_planes[0], m_converted), fittedRow(m_planes[1], m_converted),
                      fittedRow(m_planes[2], m_converted), m_targetSize.width,
                      m_target + line * static_cast<std::size_t>(m_targetSize.width) * kPixelBytes);
    }
}

void PlanarFit::upsampleRows(int chromaRows) {
    const PlaneLayout& layout = m_layout;
    for (; m_fullSizeRows < layout.luma.height; ++m_fullSizeRows) {
        // Each row is smoothed with the half-size row above (even rows) or below (odd ones).
        const int near = m_fullSizeRows / 2;
        const int far =
            std::clamp(m_fullSizeRows % 2 == 0 ? near - 1 : near + 1, 0, layout.chroma.height - 1);
        if (std::max(near, far) >= chromaRows) {
            return;
        }
        for (std::size_t chroma = 1; chroma < kPlanes; ++chroma) {
            const auto halfRow = [&](int y) {
                return m_decodedPlanes[chroma] +
                       static_cast<std::size_t>(y) * static_cast<std::size_t>(layout.chromaStride);
            };
            m_ycc.upsampleChroma(halfRow(near), halfRow(far), layout.chroma.width,
                                 m_planes[chroma].row(m_fullSizeRows));
        }
    }
}

void PlanarFit::fitRows(Plane& plane, int sourceRows) {
    for (; plane.fittedRows < m_targetSize.height; ++plane.fittedRows) {
        const PictureResampler::Tap tap = m_resampler.rowTap(plane.fittedRows);
        const int lower = tap.first + (tap.weight > 0 ? 1 : 0);
        if (lower >= sourceRows) {
            return;
        }
        m_resampler.fitRow(plane.row(tap.first), plane.row(lower), tap.weight,
                           fittedRow(plane, plane.fittedRows));
    }
}

unsigned char* PlanarFit::fittedRow(const Plane& plane, int y) const {
    return plane.fitted +
           static_cast<std::size_t>(y) * static_cast<std::size_t>(m_targetSize.width);
}

}  // namespace krt
