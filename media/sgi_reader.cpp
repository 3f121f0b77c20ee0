#include "media/sgi_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "media/regular_file.h"

namespace flowloom {

namespace {

constexpr int64_t kHeaderBytes = 512;
// A compressed row may take this many bytes per pixel of the row.
constexpr int64_t kRowBufferBytesPerPixel = 256;

uint16_t BigEndian16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t BigEndian32(const unsigned char* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

void ReportOutOfMemory() {
    std::fputs("Out of memory!\n", stderr);
}

bool IsRunLength(const SgiImageFile& image) {
    return (image.type >> 8) == 1;
}

int ChannelsRead(const SgiImageFile& image) {
    return std::min<int>(image.zsize, kSgiMaxChannels);
}

// Offsets in the file are from its first byte, which need not be the stream's.
int SeekTo(const SgiImageFile& image, int64_t offset) {
    return std::fseek(image.file, image.fileBase + static_cast<long>(offset), SEEK_SET) == 0;
}

int Fail(SgiImageFile& image, const char* why) {
    image.failure = why;
    return 0;
}

int ReadHeader(SgiImageFile& image) {
    unsigned char bytes[12];
    if (image.fileBytes < static_cast<long>(sizeof bytes) || !SeekTo(image, 0) ||
        std::fread(bytes, 1, sizeof bytes, image.file) != sizeof bytes)
        return Fail(image, "the file is shorter than its 12-byte header");
    image.magic = BigEndian16(bytes);
    image.type = BigEndian16(bytes + 2);
    image.dimension = BigEndian16(bytes + 4);
    image.xsize = BigEndian16(bytes + 6);
    image.ysize = BigEndian16(bytes + 8);
    image.zsize = BigEndian16(bytes + 10);
    return 1;
}

// Whether the header describes an image this reader takes, with everything the header
// promises (the verbatim body, or both whole row tables) inside the file.
int HeaderAcceptable(SgiImageFile& image) {
    if (image.xsize == 0 || image.ysize == 0 || image.zsize == 0)
        return Fail(image, "its width, height or channel count is 0");
    if ((image.type & 0xFF) == 2) return Fail(image, "two bytes per channel are not read (one is)");
    if ((image.type & 0xFF) != 1) return Fail(image, "its bytes per channel are not 1");
    if (int64_t{image.xsize} * image.ysize > kSgiMaxPixels)
        return Fail(image, "its size is beyond the limit of 2^26 pixels");
    const int64_t rows = int64_t{image.ysize} * image.zsize;
    const int64_t needed = kHeaderBytes + (IsRunLength(image) ? 8 * rows : rows * image.xsize);
    if (needed <= image.fileBytes) return 1;
    return Fail(image,
                IsRunLength(image) ? "the file ends inside its row tables" : "the file ends before its last row");
}

int ReadTable(SgiImageFile& image, int64_t offset, uint32_t* table, int64_t count) {
    if (!SeekTo(image, offset)) return 0;
    for (int64_t i = 0; i < count; ++i) {
        unsigned char bytes[4];
        if (std::fread(bytes, 1, sizeof bytes, image.file) != sizeof bytes) return 0;
        table[i] = BigEndian32(bytes);
    }
    return 1;
}

// Only the entries of the channels that are read are kept; they come first in each table.
int ReadRowTables(SgiImageFile& image) {
    const int64_t all_rows = int64_t{image.ysize} * image.zsize;
    const int64_t kept = int64_t{image.ysize} * ChannelsRead(image);
    if (!image.rowBuffer.Allocate(static_cast<size_t>(image.xsize * kRowBufferBytesPerPixel)) ||
        !image.rowStart.Allocate(static_cast<size_t>(kept)) || !image.rowLength.Allocate(static_cast<size_t>(kept))) {
        ReportOutOfMemory();
        return Fail(image, "out of memory");
    }
    if (ReadTable(image, kHeaderBytes, image.rowStart.get(), kept) &&
        ReadTable(image, kHeaderBytes + 4 * all_rows, image.rowLength.get(), kept))
        return 1;
    return Fail(image, "the file ends inside its row tables");
}

SgiImageFile* OpenOn(std::FILE* file, long base, long bytes, bool owns_file, const char** failure) {
    auto* image = new (std::nothrow) SgiImageFile;
    if (!image) {
        ReportOutOfMemory();
        if (owns_file) std::fclose(file);
        if (failure) *failure = "out of memory";
        return nullptr;
    }
    image->file = file;
    image->fileBase = base;
    image->fileBytes = bytes;
    image->ownsFile = owns_file;
    if (!ReadHeader(*image) || !HeaderAcceptable(*image) || (IsRunLength(*image) && !ReadRowTables(*image))) {
        if (failure) *failure = image->failure;
        CloseSgiImage(image);
        return nullptr;
    }
    return image;
}

// A control byte's low 7 bits count the bytes of a run, 0 ending the row; with the high
// bit set the run is that many literal bytes, else one byte repeated. A run breaking off
// or overflowing the row fails (0). A row that ends early is kept, its rest black: only
// data that would not fit the row is refused.
int DecodeRunLength(const unsigned char* in, int64_t in_bytes, unsigned char* out, int64_t out_bytes) {
    int64_t read = 0;
    int64_t written = 0;
    while (read < in_bytes) {
        const int control = in[read++];
        const int64_t count = control & 0x7F;
        if (count == 0) break;
        if (count > out_bytes - written) return 0;
        if (control & 0x80) {
            if (count > in_bytes - read) return 0;
            std::memcpy(out + written, in + read, static_cast<size_t>(count));
            read += count;
        } else {
            if (read >= in_bytes) return 0;
            std::memset(out + written, in[read++], static_cast<size_t>(count));
        }
        written += count;
    }
    std::memset(out + written, 0, static_cast<size_t>(out_bytes - written));
    return 1;
}

// RGBA rows in file order. Does not close the image.
unsigned char* ReadRgbaFrom(SgiImageFile& image) {
    const int64_t width = image.xsize;
    const int64_t height = image.ysize;
    MallocBuffer<unsigned char> rgba;
    MallocBuffer<unsigned char> rows;  // one row of each channel that is read
    if (!rgba.Allocate(static_cast<size_t>(width * height * 4)) ||
        !rows.Allocate(static_cast<size_t>(width * kSgiMaxChannels))) {
        image.failure = "out of memory";
        return nullptr;
    }

    const int channels = ChannelsRead(image);
    const unsigned char* red = rows.get();
    const unsigned char* green = channels >= 3 ? red + width : red;
    const unsigned char* blue = channels >= 3 ? red + 2 * width : red;
    const unsigned char* alpha = channels == 2 ? red + width : channels == 4 ? red + 3 * width : nullptr;
    for (int y = 0; y < height; ++y) {
        for (int z = 0; z < channels; ++z)
            if (!ReadSgiRow(&image, rows.get() + z * width, y, z)) return nullptr;
        unsigned char* out = rgba.get() + y * width * 4;
        for (int64_t x = 0; x < width; ++x, out += 4) {
            out[0] = red[x];
            out[1] = green[x];
            out[2] = blue[x];
            out[3] = alpha ? alpha[x] : 255;
        }
    }
    return rgba.Detach();
}

// Reads the 24-bit buffer and closes the image, whatever the outcome.
unsigned char* ReadImage24From(SgiImageFile* image, int& width, int& height, const char** failure) {
    if (!image) return nullptr;
    const int64_t w = image->xsize;
    const int64_t h = image->ysize;
    MallocBuffer<unsigned char> rgba(ReadRgbaFrom(*image));
    if (!rgba && failure) *failure = image->failure ? image->failure : "out of memory";
    CloseSgiImage(image);
    MallocBuffer<unsigned char> bgr;
    if (!rgba) return nullptr;
    if (!bgr.Allocate(static_cast<size_t>(w * h * 3))) {
        if (failure) *failure = "out of memory";
        return nullptr;
    }
    for (int64_t y = 0; y < h; ++y) {
        const unsigned char* in = rgba.get() + y * w * 4;
        unsigned char* out = bgr.get() + (h - 1 - y) * w * 3;
        for (int64_t x = 0; x < w; ++x, in += 4, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return bgr.Detach();
}

}  // namespace

SgiImageFile* OpenSgiImage(const char* path, const char** failure) {
    long bytes = -1;
    std::FILE* file = OpenRegularFile(path, bytes);
    if (!file) {
        std::printf("\nFailed to open %s\n", path ? path : "");
        std::fflush(stdout);
        if (failure) *failure = "it cannot be opened";
        return nullptr;
    }
    return OpenOn(file, 0, bytes, true, failure);
}

SgiImageFile* OpenSgiImageStream(std::FILE* stream, long file_bytes, const char** failure) {
    const long base = stream && file_bytes >= 0 ? std::ftell(stream) : -1;
    if (base < 0) {
        if (failure) *failure = "it cannot be read";
        return nullptr;
    }
    return OpenOn(stream, base, file_bytes, false, failure);
}

int ReadSgiRow(SgiImageFile* image, unsigned char* dest, int y, int z) {
    if (!image || !dest || y < 0 || y >= image->ysize || z < 0 || z >= ChannelsRead(*image)) return 0;
    const int64_t index = y + int64_t{z} * image->ysize;
    const size_t width = image->xsize;
    if (!IsRunLength(*image)) {
        if (SeekTo(*image, kHeaderBytes + index * image->xsize) && std::fread(dest, 1, width, image->file) == width)
            return 1;
        return Fail(*image, "the file ends inside a row");
    }

    if (!image->rowStart || !image->rowLength || !image->rowBuffer) return Fail(*image, "it has no row tables");
    const int64_t start = image->rowStart[static_cast<size_t>(index)];
    const int64_t length = image->rowLength[static_cast<size_t>(index)];
    if (length == 0) return Fail(*image, "a run-length row is empty (not even its end code)");
    if (start > image->fileBytes || length > image->fileBytes - start)
        return Fail(*image, "a run-length row lies outside the file");
    if (length > int64_t{image->xsize} * kRowBufferBytesPerPixel)
        return Fail(*image, "a run-length row is longer than 256 bytes per pixel");
    if (!SeekTo(*image, start) ||
        std::fread(image->rowBuffer.get(), 1, static_cast<size_t>(length), image->file) != static_cast<size_t>(length))
        return Fail(*image, "a run-length row cannot be read");
    if (DecodeRunLength(image->rowBuffer.get(), length, dest, image->xsize)) return 1;
    return Fail(*image, "a run-length row breaks off inside a run or overflows the row");
}

void CloseSgiImage(SgiImageFile* image) {
    if (!image) return;
    if (image->ownsFile && image->file) std::fclose(image->file);
    delete image;
}

unsigned char* ReadSgiRgba(const char* path, int& width, int& height, int& channels) {
    SgiImageFile* image = OpenSgiImage(path);
    if (!image) return nullptr;
    unsigned char* rgba = ReadRgbaFrom(*image);
    if (rgba) {
        width = image->xsize;
        height = image->ysize;
        channels = image->zsize;
    }
    CloseSgiImage(image);
    return rgba;
}

unsigned char* ReadSgiImage24(const char* path, int& width, int& height, const char** failure) {
    return ReadImage24From(OpenSgiImage(path, failure), width, height, failure);
}

unsigned char* ReadSgiImage24Stream(std::FILE* stream, long file_bytes, int& width, int& height, const char** failure) {
    return ReadImage24From(OpenSgiImageStream(stream, file_bytes, failure), width, height, failure);
}

}  // namespace flowloom
