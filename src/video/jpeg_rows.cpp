#include "video/jpeg_rows.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace krt {
namespace {

// A frame's coefficient buffers (progressive frames keep the whole picture's) stay below this;
// a hostile header claiming more ends the frame instead.
constexpr long kMaxDecoderMemory = 256L << 20;

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

bool JpegRowReader::start(std::span<const unsigned char> jpeg, ScalingFactor factor,
                          PictureSize expected) {
    finish();
    jpeg_decompress_struct& info = m_decompressor->info;
    if (setjmp(m_decompressor->onError) != 0) {
        finish();
        return false;
    }
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        finish();
        return false;
    }
    info.out_color_space = JCS_EXT_BGRX;
    info.scale_num = static_cast<unsigned>(factor.num);
    info.scale_denom = static_cast<unsigned>(factor.denom);
    jpeg_calc_output_dimensions(&info);
    if (static_cast<int>(info.output_width) != expected.width ||
        static_cast<int>(info.output_height) != expected.height) {
        finish();
        return false;
    }
    m_decompressor->started = true;
    jpeg_start_decompress(&info);
    return true;
}

bool JpegRowReader::readRow(unsigned char* row) {
    jpeg_decompress_struct& info = m_decompressor->info;
    if (!m_decompressor->started || info.output_scanline >= info.output_height) {
        return false;
    }
    if (setjmp(m_decompressor->onError) != 0) {
        finish();
        return false;
    }
    JSAMPROW rows[] = {row};
    return jpeg_read_scanlines(&info, rows, 1) == 1;
}

void JpegRowReader::finish() {
    // Aborting also serves a frame read to its end, and leaves the object ready for the next.
    jpeg_abort_decompress(&m_decompressor->info);
    m_decompressor->started = false;
}

}  // namespace krt
