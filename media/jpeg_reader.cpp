#include "media/jpeg_reader.h"

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
// After jpeglib.h: the message codes.
#include <jerror.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "media/photo_reader.h"

namespace flowloom {

namespace {

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = {};
    char warning[JMSG_LENGTH_MAX] = {};
};

// Everything that must be released whichever way the read ends; it lives in the
// caller's frame, outside the setjmp frame.
struct JpegRead {
    jpeg_decompress_struct cinfo;
    JpegErrors errors;
    jpeg_progress_mgr progress;
    bool created = false;
    unsigned char* bgr = nullptr;
    unsigned char* row = nullptr;
    JpegRead() {
        std::memset(&cinfo, 0, sizeof cinfo);
        std::memset(&progress, 0, sizeof progress);
    }
    ~JpegRead() {
        if (created) jpeg_destroy_decompress(&cinfo);
        std::free(bgr);
        std::free(row);
    }
};

[[noreturn]] void OnJpegError(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings (level -1) about image data that ends before the image does are errors: the
// library would fill the rest with grey, and a 200-byte file could pass for a large
// picture. Other warnings (stray bytes between markers and the like) leave the picture
// whole; the first is kept for the caller. Trace messages are dropped.
void OnJpegMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    const int code = cinfo->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) (*cinfo->err->error_exit)(cinfo);
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    if (!errors->warning[0]) (*cinfo->err->format_message)(cinfo, errors->warning);
}

// A progressive file may hold any number of scans, each a pass over the whole image:
// bound them, or a small file could keep the decoder busy for minutes.
void OnJpegProgress(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->is_decompressor && d->input_scan_number > kJpegMaxScans) {
        auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
        std::snprintf(errors->message, sizeof errors->message, "more than %d scans", kJpegMaxScans);
        std::longjmp(errors->jump, 1);
    }
}

unsigned char Clamp(int v) {
    return static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Only libjpeg calls and writes through `r` happen after setjmp, so nothing here is
// stale after a longjmp.
int Decode(JpegRead& r, std::FILE* stream) {
    jpeg_decompress_struct& cinfo = r.cinfo;
    cinfo.err = jpeg_std_error(&r.errors.manager);
    r.errors.manager.error_exit = OnJpegError;
    r.errors.manager.emit_message = OnJpegMessage;
    if (setjmp(r.errors.jump)) return 0;
    r.created = true;  // jpeg_destroy_decompress copes with a half-made object
    jpeg_create_decompress(&cinfo);
    // A progressive image keeps all its coefficients; beyond this the library refuses
    // (it has no backing store) instead of taking whatever memory a header asks for.
    cinfo.mem->max_memory_to_use = kJpegMaxMemory;
    r.progress.progress_monitor = OnJpegProgress;
    cinfo.progress = &r.progress;
    jpeg_stdio_src(&cinfo, stream);
    jpeg_read_header(&cinfo, TRUE);
    const uint64_t pixels = static_cast<uint64_t>(cinfo.image_width) * cinfo.image_height;
    if (cinfo.image_width > static_cast<unsigned>(kPhotoMaxSide) ||
        cinfo.image_height > static_cast<unsigned>(kPhotoMaxSide) || pixels > static_cast<uint64_t>(kPhotoMaxPixels)) {
        DescribeOversize(r.errors.message, sizeof r.errors.message, cinfo.image_width, cinfo.image_height);
        return 0;
    }
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const int channels = cinfo.output_components;
    if (channels != (cmyk ? 4 : 3)) {
        std::snprintf(r.errors.message, sizeof r.errors.message, "unsupported colour layout");
        return 0;
    }
    const size_t width = cinfo.output_width;
    r.bgr = static_cast<unsigned char*>(std::malloc(3 * width * cinfo.output_height));
    r.row = static_cast<unsigned char*>(std::malloc(channels * width));
    if (!r.bgr || !r.row) {
        std::snprintf(r.errors.message, sizeof r.errors.message, "out of memory");
        return 0;
    }
    // Adobe writes CMYK inverted (0 is full ink); other writers store ink directly.
    const bool inverted = cinfo.saw_Adobe_marker;
    while (cinfo.output_scanline < cinfo.output_height) {
        unsigned char* out = r.bgr + 3 * width * cinfo.output_scanline;
        JSAMPROW rows[1] = {r.row};
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) {
            std::snprintf(r.errors.message, sizeof r.errors.message, "the decoder stalled");
            return 0;
        }
        for (size_t x = 0; x < width; ++x) {
            const unsigned char* p = r.row + channels * x;
            if (!cmyk) {
                out[3 * x] = p[2];
                out[3 * x + 1] = p[1];
                out[3 * x + 2] = p[0];
                continue;
            }
            const int k = inverted ? p[3] : 255 - p[3];
            for (int c = 0; c < 3; ++c) {
                const int ink = inverted ? p[c] : 255 - p[c];
                out[3 * x + 2 - c] = Clamp((ink * k + 127) / 255);
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    return 1;
}

}  // namespace

bool HasJpegSignature(const unsigned char* head, size_t bytes) {
    return bytes >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

unsigned char* ReadJpegStream(std::FILE* stream, int& width, int& height, std::string* error) {
    JpegRead r;
    if (stream && Decode(r, stream)) {
        if (r.errors.warning[0]) std::fprintf(stderr, "JPEG warning: %s\n", r.errors.warning);
        width = static_cast<int>(r.cinfo.output_width);
        height = static_cast<int>(r.cinfo.output_height);
        return std::exchange(r.bgr, nullptr);
    }
    if (error) *error = r.errors.message[0] ? r.errors.message : "not a JPEG file";
    return nullptr;
}

}  // namespace flowloom
