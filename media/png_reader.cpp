#include "media/png_reader.h"

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "media/photo_reader.h"

namespace flowloom {

namespace {

// Everything that must be released whichever way the read ends. It lives in the
// caller's frame, outside the setjmp frame, so a longjmp out of libpng leaves it intact.
struct PngRead {
    png_structp png = nullptr;
    png_infop info = nullptr;
    unsigned char* bgr = nullptr;      // the result
    unsigned char* decoded = nullptr;  // one row, or the whole image when interlaced
    png_bytep* rows = nullptr;
    char message[200] = {};
    ~PngRead() {
        png_destroy_read_struct(&png, &info, nullptr);
        std::free(bgr);
        std::free(decoded);
        std::free(rows);
    }
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp text) {
    auto* read = static_cast<PngRead*>(png_get_error_ptr(png));
    std::snprintf(read->message, sizeof read->message, "%s", text);
    std::longjmp(png_jmpbuf(png), 1);
}

// Warnings concern ancillary chunks (profiles, text) that the picture does not use.
void OnPngWarning(png_structp, png_const_charp) {}

// libpng's own allocations are rows of at most 32768 pixels of 8 bytes, its inflate state
// and chunk buffers; the picture's buffers are ours. libpng bounds the chunks it reads
// into memory by png_set_chunk_malloc_max only for some of them: a text chunk that claims
// 2^31 - 1 bytes gets a buffer of that size before the file is found to end. Every
// allocation above this fails instead, which libpng reports as an error or, for a text
// chunk, skips.
constexpr png_alloc_size_t kMaxPngAllocation = 16u << 20;

png_voidp BoundedMalloc(png_structp, png_alloc_size_t size) {
    return size <= kMaxPngAllocation ? std::malloc(size) : nullptr;
}

void BoundedFree(png_structp, png_voidp block) {
    std::free(block);
}

// One decoded row of red, green, blue, alpha samples (8 or 16 bits, big-endian) to
// blue, green, red bytes over black. The composite is a 16-bit sample, c * a / 65535
// rounded (8-bit samples count as v * 257); a 16-bit sample v becomes the byte v / 257,
// truncated as every real-to-byte conversion here is. For 8-bit samples this is exactly
// c * a / 255 truncated.
void RowToBgr(const unsigned char* src, bool sixteen, size_t width, unsigned char* out) {
    for (size_t x = 0; x < width; ++x) {
        uint64_t v[4];
        for (int c = 0; c < 4; ++c)
            v[c] = sixteen ? (uint64_t{src[8 * x + 2 * c]} << 8 | src[8 * x + 2 * c + 1]) : src[4 * x + c] * 257u;
        for (int c = 0; c < 3; ++c)
            out[3 * x + 2 - c] = static_cast<unsigned char>((v[c] * v[3] + 32767) / 65535 / 257);
    }
}

// Decodes into r.bgr. Only libpng calls and writes through `r` happen after setjmp, so
// nothing here is stale after a longjmp.
int Decode(PngRead& r, std::FILE* stream, png_uint_32& width, png_uint_32& height) {
    if (setjmp(png_jmpbuf(r.png))) return 0;
    png_init_io(r.png, stream);
    // libpng refuses a larger header itself, before it allocates any row.
    png_set_user_limits(r.png, kPhotoMaxSide, kPhotoMaxSide);
    png_set_chunk_malloc_max(r.png, 8u << 20);
    png_read_info(r.png, r.info);
    width = png_get_image_width(r.png, r.info);
    height = png_get_image_height(r.png, r.info);
    if (static_cast<uint64_t>(width) * height > static_cast<uint64_t>(kPhotoMaxPixels)) {
        DescribeOversize(r.message, sizeof r.message, width, height);
        return 0;
    }
    const bool sixteen = png_get_bit_depth(r.png, r.info) == 16;
    png_set_expand(r.png);  // palette to RGB, grey below 8 bits to 8, transparent colour to alpha
    png_set_gray_to_rgb(r.png);
    png_set_add_alpha(r.png, sixteen ? 0xffff : 0xff, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
    const size_t row_bytes = (sixteen ? 8 : 4) * static_cast<size_t>(width);
    if (png_get_rowbytes(r.png, r.info) != row_bytes) {
        std::snprintf(r.message, sizeof r.message, "unexpected row layout");
        return 0;
    }
    // An interlaced image arrives in passes over the whole picture, so it needs all of
    // it at once; any other comes row by row.
    const size_t decoded_rows = passes > 1 ? height : 1;
    r.bgr = static_cast<unsigned char*>(std::malloc(3 * static_cast<size_t>(width) * height));
    r.decoded = static_cast<unsigned char*>(std::malloc(row_bytes * decoded_rows));
    r.rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * decoded_rows));
    if (!r.bgr || !r.decoded || !r.rows) {
        std::snprintf(r.message, sizeof r.message, "out of memory");
        return 0;
    }
    // The chunks after the image data hold nothing for the picture, so the end of the
    // file is not read: a file cut after its last image row still opens, as in viewers.
    if (passes > 1) {
        for (png_uint_32 y = 0; y < height; ++y) r.rows[y] = r.decoded + row_bytes * y;
        png_read_image(r.png, r.rows);
        for (png_uint_32 y = 0; y < height; ++y) RowToBgr(r.rows[y], sixteen, width, r.bgr + 3 * size_t{width} * y);
    } else {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(r.png, r.decoded, nullptr);
            RowToBgr(r.decoded, sixteen, width, r.bgr + 3 * size_t{width} * y);
        }
    }
    return 1;
}

}  // namespace

bool HasPngSignature(const unsigned char* head, size_t bytes) {
    return bytes >= 8 && png_sig_cmp(head, 0, 8) == 0;
}

unsigned char* ReadPngStream(std::FILE* stream, int& width, int& height, std::string* error) {
    PngRead r;
    r.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &r, OnPngError, OnPngWarning, nullptr, BoundedMalloc,
                                     BoundedFree);
    if (r.png) r.info = png_create_info_struct(r.png);
    png_uint_32 w = 0;
    png_uint_32 h = 0;
    if (!r.info) {
        std::snprintf(r.message, sizeof r.message, "out of memory");
    } else if (stream && Decode(r, stream, w, h)) {
        width = static_cast<int>(w);
        height = static_cast<int>(h);
        return std::exchange(r.bgr, nullptr);
    }
    if (error) *error = r.message[0] ? r.message : "not a PNG file";
    return nullptr;
}

}  // namespace flowloom
