#include "common/jpeg_image.hpp"

// libjpeg's header needs size_t and FILE declared first.
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <utility>

#include <jpeglib.h>

namespace orvex::demo {
namespace {

// libjpeg reports fatal errors through error_exit, which by default ends the process; this
// manager jumps back into DecodeJpeg instead.
struct JumpingErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void JumpOnError(j_common_ptr info) {
    auto* manager = reinterpret_cast<JumpingErrorManager*>(info->err);
    std::longjmp(manager->jump, 1);
}

void IgnoreMessage(j_common_ptr) {}

// Reads the scan lines into image.rgb; false when the header asks for too large a picture.
bool ReadPixels(jpeg_decompress_struct& info, Image& image) {
    if (info.output_width == 0 || info.output_height == 0 || info.output_components != 3 ||
        info.output_width > unsigned(kMaxImageSide) ||
        info.output_height > unsigned(kMaxImageSide)) {
        return false;
    }
    image.width = int(info.output_width);
    image.height = int(info.output_height);
    const size_t stride = size_t(image.width) * 3;
    image.rgb.resize(stride * size_t(image.height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.rgb.data() + stride * info.output_scanline;
        if (jpeg_read_scanlines(&info, &row, 1) != 1) return false;
    }
    return true;
}

}  // namespace

std::optional<Image> DecodeJpeg(std::span<const uint8_t> bytes) {
    if (bytes.size() < 4) return std::nullopt;
    // The picture lives on the heap: the pointer itself never changes after setjmp, so it
    // stays valid on the error path.
    const auto image = std::make_unique<Image>();
    jpeg_decompress_struct info{};
    JumpingErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = JumpOnError;
    errors.base.output_message = IgnoreMessage;
    // No object with a destructor is created between here and the end of the decoding, so
    // the jump skips nothing that needs cleaning up besides the decoder itself.
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return std::nullopt;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    bool ok = jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK;
    if (ok) {
        info.out_color_space = JCS_RGB;
        ok = jpeg_start_decompress(&info) && ReadPixels(info, *image);
        if (ok) jpeg_finish_decompress(&info);
    }
    jpeg_destroy_decompress(&info);
    if (!ok) return std::nullopt;
    return std::move(*image);
}

}  // namespace orvex::demo
