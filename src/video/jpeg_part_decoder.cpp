#include "video/jpeg_part_decoder.h"

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
// The part's pixels are bounded as a whole picture's are.
constexpr long kMaxPartPixels = 4096L * 4096L;

// The eighths of the smallest DCT scale at which `length` pixels become at least `reach`.
int eighthsReaching(int length, int reach) {
    for (int eighths = 1; eighths < DCTSIZE; ++eighths) {
        if (length * eighths >= reach * DCTSIZE) {
            return eighths;
        }
    }
    return DCTSIZE;
}

}  // namespace

// libjpeg reports a fatal error through a callback that must not return: it jumps back to the
// call into the library, which then fails. Nothing between the jump and its target has a
// destructor to run.
struct JpegPartDecoder::Decompressor {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf onError{};

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

JpegPartDecoder::JpegPartDecoder() : m_decompressor(std::make_unique<Decompressor>()) {}

JpegPartDecoder::~JpegPartDecoder() = default;

bool JpegPartDecoder::decode(std::span<const unsigned char> jpeg, const Rect& part,
                             PictureSize drawn, DecodedPart& decoded) {
    jpeg_decompress_struct& info = m_decompressor->info;
    if (jpeg.empty() || part.width <= 0 || part.height <= 0 || drawn.width <= 0 ||
        drawn.height <= 0) {
        return false;
    }
    if (setjmp(m_decompressor->onError) != 0) {
        jpeg_abort_decompress(&info);
        return false;
    }
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    const bool decodedRows = jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK && part.x >= 0 &&
                             part.y >= 0 &&
                             part.x + part.width <= static_cast<int>(info.image_width) &&
                             part.y + part.height <= static_cast<int>(info.image_height) &&
                             decodeRows(part, drawn, decoded);
    jpeg_abort_decompress(&info);
    return decodedRows;
}

// Runs under decode()'s error guard: an error jumps straight back there.
bool JpegPartDecoder::decodeRows(const Rect& part, PictureSize drawn, DecodedPart& decoded) {
    jpeg_decompress_struct& info = m_decompressor->info;
    const int eighths = std::max(eighthsReaching(part.width, drawn.width),
                                 eighthsReaching(part.height, drawn.height));
    info.out_color_space = JCS_EXT_BGRX;
    info.scale_num = static_cast<unsigned>(eighths);
    info.scale_denom = DCTSIZE;
    jpeg_calc_output_dimensions(&info);
    // The part at that scale, its edges outwards to whole pixels.
    const auto scaled = [eighths](int at) { return at * eighths / DCTSIZE; };
    const auto scaledEnd = [eighths](int at) { return (at * eighths + DCTSIZE - 1) / DCTSIZE; };
    const int left = scaled(part.x);
    const int right = std::min(scaledEnd(part.x + part.width), static_cast<int>(info.output_width));
    const int top = scaled(part.y);
    const int bottom =
        std::min(scaledEnd(part.y + part.height), static_cast<int>(info.output_height));
    jpeg_start_decompress(&info);
    // The library widens the columns to whole blocks.
    auto xOffset = static_cast<JDIMENSION>(left);
    auto columns = static_cast<JDIMENSION>(right - left);
    jpeg_crop_scanline(&info, &xOffset, &columns);
    const int rows = bottom - top;
    if (long{static_cast<int>(columns)} * rows > kMaxPartPixels) {
        return false;
    }
    if (top > 0 &&
        jpeg_skip_scanlines(&info, static_cast<JDIMENSION>(top)) != static_cast<JDIMENSION>(top)) {
        return false;
    }
    decoded.bytesPerLine = static_cast<int>(info.output_width) * DecodedPart::kBytesPerPixel;
    decoded.pixels.resize(static_cast<std::size_t>(decoded.bytesPerLine) *
                          static_cast<std::size_t>(rows));
    decoded.part = {left - static_cast<int>(xOffset), 0, right - left, rows};
    m_rows.resize(static_cast<std::size_t>(rows));
    for (int row = 0; row < rows; ++row) {
        m_rows[static_cast<std::size_t>(row)] =
            decoded.pixels.data() + static_cast<std::size_t>(row) * decoded.bytesPerLine;
    }
    for (int done = 0; done < rows;) {
        const auto read = static_cast<int>(
            jpeg_read_scanlines(&info, m_rows.data() + done, static_cast<JDIMENSION>(rows - done)));
        if (read == 0) {
            return false;
        }
        done += read;
    }
    // The rows below the part are never decoded: the caller aborts the frame.
    return true;
}

}  // namespace krt
