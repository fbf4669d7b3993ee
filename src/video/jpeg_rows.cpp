#include "video/jpeg_rows.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <algorithm>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace krt {
namespace {

// A frame's coefficient buffers (progressive frames keep the whole picture's) stay below this;
// a hostile header claiming more ends the frame instead.
constexpr long kMaxDecoderMemory = 256L << 20;
constexpr int kLargestEighths = 16;

}  // namespace

// libjpeg reports a fatal error through a callback that must not return: it jumps back to the
// call into the library, which then fails. Nothing between the jump and its target has a
// destructor to run.
struct JpegRowReader::Decompressor {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf onError{};
    bool started = false;

    Decompressor() {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = [](j_common_ptr common) {
            std::longjmp(static_cast<Decompressor*>(common->client_data)->onError, 1);
        };
        errors.output_message = [](j_common_ptr) {};  // warnings are expected, not printed
        jpeg_create_decompress(&info);
        info.client_data = this;
        info.mem->max_memory_to_use = kMaxDecoderMemory;
    }
    ~Decompressor() { jpeg_destroy_decompress(&info); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

JpegRowReader::JpegRowReader() : m_decompressor(std::make_unique<Decompressor>()) {}

JpegRowReader::~JpegRowReader() = default;

std::vector<ScalingFactor> JpegRowReader::scalingFactors() {
    std::vector<ScalingFactor> factors;
    for (int eighths = 1; eighths <= kLargestEighths; ++eighths) {
        factors.push_back({eighths, DCTSIZE});
    }
    return factors;
}

std::optional<PictureSize> JpegRowReader::start(std::span<const unsigned char> jpeg) {
    finish();
    jpeg_decompress_struct& info = m_decompressor->info;
    if (jpeg.empty()) {
        return std::nullopt;
    }
    if (setjmp(m_decompressor->onError) != 0) {
        finish();
        return std::nullopt;
    }
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        finish();
        return std::nullopt;
    }
    m_decompressor->started = true;
    return PictureSize{static_cast<int>(info.image_width), static_cast<int>(info.image_height)};
}

bool JpegRowReader::decode(ScalingFactor factor, PictureSize expected, JpegRowSink& sink) {
    jpeg_decompress_struct& info = m_decompressor->info;
    if (!m_decompressor->started) {
        return false;
    }
    if (setjmp(m_decompressor->onError) != 0) {
        finish();
        return false;
    }
    info.out_color_space = JCS_EXT_BGRX;
    info.raw_data_out = FALSE;
    info.scale_num = static_cast<unsigned>(factor.num);
    info.scale_denom = static_cast<unsigned>(factor.denom);
    jpeg_calc_output_dimensions(&info);
    const bool decoded = static_cast<int>(info.output_width) == expected.width &&
                         static_cast<int>(info.output_height) == expected.height &&
                         decodeRows(sink);
    finish();
    return decoded;
}

// Runs under decode()'s error guard: an error jumps straight back there.
bool JpegRowReader::decodeRows(JpegRowSink& sink) {
    jpeg_decompress_struct& info = m_decompressor->info;
    jpeg_start_decompress(&info);
    const int height = static_cast<int>(info.output_height);
    m_rowAddresses.resize(static_cast<std::size_t>(std::max(sink.rowsAhead(), 1)));
    while (static_cast<int>(info.output_scanline) < height) {
        const int first = static_cast<int>(info.output_scanline);
        const int count = std::min(static_cast<int>(m_rowAddresses.size()), height - first);
        for (int i = 0; i < count; ++i) {
            m_rowAddresses[static_cast<std::size_t>(i)] = sink.rowAddress(first + i);
        }
        const auto read = static_cast<int>(
            jpeg_read_scanlines(&info, m_rowAddresses.data(), static_cast<JDIMENSION>(count)));
        if (read == 0) {
            return false;
        }
        sink.rowsDecoded(first + read);
    }
    return true;
}

std::optional<PlaneLayout> JpegRowReader::planeLayout(ScalingFactor factor) {
    jpeg_decompress_struct& info = m_decompressor->info;
    if (!m_decompressor->started || info.num_components != 3 ||
        info.jpeg_color_space != JCS_YCbCr) {
        return std::nullopt;
    }
    if (setjmp(m_decompressor->onError) != 0) {
        finish();
        return std::nullopt;
    }
    info.raw_data_out = TRUE;
    info.scale_num = static_cast<unsigned>(factor.num);
    info.scale_denom = static_cast<unsigned>(factor.denom);
    jpeg_calc_output_dimensions(&info);
    const auto sizeOf = [](const jpeg_component_info& component) {
        return PictureSize{static_cast<int>(component.downsampled_width),
                           static_cast<int>(component.downsampled_height)};
    };
    const jpeg_component_info* components = info.comp_info;
    PlaneLayout layout{sizeOf(components[0]), sizeOf(components[1])};
    const PictureSize half{(layout.luma.width + 1) / 2, (layout.luma.height + 1) / 2};
    const bool chromaAlike = components[1].h_samp_factor == components[2].h_samp_factor &&
                             components[1].v_samp_factor == components[2].v_samp_factor &&
                             components[1].DCT_scaled_size == components[2].DCT_scaled_size;
    if (!chromaAlike || (layout.chroma != layout.luma && layout.chroma != half) ||
        layout.luma.width != static_cast<int>(info.output_width) ||
        layout.luma.height != static_cast<int>(info.output_height)) {
        return std::nullopt;
    }
    // Whole blocks of whole MCUs across, whole iMCU rows down.
    const int mcusAcross =
        (static_cast<int>(info.image_width) + info.max_h_samp_factor * DCTSIZE - 1) /
        (info.max_h_samp_factor * DCTSIZE);
    const int imcuRows = static_cast<int>(info.total_iMCU_rows);
    layout.lumaStride = mcusAcross * components[0].h_samp_factor * components[0].DCT_scaled_size;
    layout.chromaStride = mcusAcross * components[1].h_samp_factor * components[1].DCT_scaled_size;
    layout.lumaRows = imcuRows * components[0].v_samp_factor * components[0].DCT_scaled_size;
    layout.chromaRows = imcuRows * components[1].v_samp_factor * components[1].DCT_scaled_size;
    m_layout = layout;
    return layout;
}

bool JpegRowReader::decodePlanes(JpegPlaneSink& sink) {
    if (!m_decompressor->started || !m_decompressor->info.raw_data_out) {
        return false;
    }
    if (setjmp(m_decompressor->onError) != 0) {
        finish();
        return false;
    }
    const bool decoded = readPlanes(sink);
    finish();
    return decoded;
}

// Runs under decodePlanes()'s error guard: an error jumps straight back there.
bool JpegRowReader::readPlanes(JpegPlaneSink& sink) {
    jpeg_decompress_struct& info = m_decompressor->info;
    jpeg_start_decompress(&info);
    const std::array<unsigned char*, 3> planes = sink.planes(m_layout);
    const std::array<int, 3> strides{m_layout.lumaStride, m_layout.chromaStride,
                                     m_layout.chromaStride};
    std::array<int, 3> rowsPerRead{};
    std::array<JSAMPARRAY, 3> rows{};
    for (std::size_t plane = 0; plane < planes.size(); ++plane) {
        const jpeg_component_info& component = info.comp_info[plane];
        rowsPerRead[plane] = component.v_samp_factor * component.DCT_scaled_size;
        m_planeRows[plane].resize(static_cast<std::size_t>(rowsPerRead[plane]));
        rows[plane] = m_planeRows[plane].data();
    }
    const auto linesPerRead =
        static_cast<JDIMENSION>(info.max_v_samp_factor * info.min_DCT_scaled_size);
    for (int read = 0; info.output_scanline < info.output_height; ++read) {
        if (read >= static_cast<int>(info.total_iMCU_rows)) {
            return false;
        }
        for (std::size_t plane = 0; plane < planes.size(); ++plane) {
            const auto firstRow = static_cast<std::size_t>(read) * m_planeRows[plane].size();
            for (std::size_t i = 0; i < m_planeRows[plane].size(); ++i) {
                m_planeRows[plane][i] =
                    planes[plane] + (firstRow + i) * static_cast<std::size_t>(strides[plane]);
            }
        }
        if (jpeg_read_raw_data(&info, rows.data(), linesPerRead) == 0) {
            return false;
        }
        sink.rowsDecoded(std::min((read + 1) * rowsPerRead[0], m_layout.luma.height),
                         std::min((read + 1) * rowsPerRead[1], m_layout.chroma.height));
    }
    return true;
}

void JpegRowReader::finish() {
    // Aborting also serves a frame read to its end, and leaves the object ready for the next.
    jpeg_abort_decompress(&m_decompressor->info);
    m_decompressor->started = false;
}

}  // namespace krt
