#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/malloc_buffer.h"

struct AVFormatContext;
struct AVStream;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace flowloom {

// One frame for the writer: a 24-bit pixel buffer (blue, green, red; rows from the top;
// no padding), as the BMP reader returns it. A null buffer stands for a frame file that
// could not be loaded.
struct AviFrame {
    int width = 0;
    int height = 0;
    const unsigned char* pixels = nullptr;
};

// Bytes of one row of a packed bitmap: rows are padded to a multiple of 4 bytes
// (a 301-wide 24-bit row takes 904). 0 for a width or depth that is not positive.
int64_t PackedDibRowBytes(int width, int bits);
// Colour-table entries of a packed bitmap: 2^bits for 1 to 8 bits per pixel, else 0.
int PackedDibColors(int bits);

// Size of the bitmap info header that starts a packed bitmap.
inline constexpr int kPackedDibHeaderBytes = 40;

// Packs a frame into one zero-initialised block: a 40-byte bitmap info header (size 40,
// width, positive height, 1 plane, `bits`, uncompressed, image size = height x row bytes,
// colours used), the colour table (none at 24 bits), then the rows bottom-up, each padded
// to PackedDibRowBytes. Only 24 bits per pixel is packed; another depth, a null buffer, a
// size not positive or an image of 2 GiB or more gives an absent block.
MallocBuffer<unsigned char> BitmapToPackedDib(const AviFrame& frame, int bits);

// An encoder that the installed FFmpeg offers for AVI files. `name` is FFmpeg's codec
// name ("rawvideo", "mjpeg", "mpeg4", "ffv1"); `has_quality` says whether the quality
// (0..100) of the options choice matters to it.
struct AviCompressor {
    std::string name;
    std::string label;
    int has_quality = 0;
};

// Uncompressed 24-bit frames, Motion JPEG, MPEG-4 Part 2 and FFV1 (lossless), each only
// when the installed FFmpeg has its encoder and the AVI muxer takes it; in this order.
std::vector<AviCompressor> AviCompressorsAvailable();

// The compression-options choice, asked once at the first frame. `chosen` and `quality`
// arrive holding the default (the first offered, quality 75); Choose may change both.
// Returns 0 when the user cancels, which makes the whole file fail.
class AviOptionsChooser {
public:
    virtual ~AviOptionsChooser() = default;
    virtual int Choose(const std::vector<AviCompressor>& offered, AviCompressor& chosen, int& quality) = 0;
};

// Writes equally sized frames into one AVI file. The stream runs at 10 x frames per
// second with scale 1 (time base 1 / rate); frame k sits at position 10 x k (the nine
// positions between stay empty), every frame a key frame. The file is created, the
// stream set up and the options chosen only when the first frame arrives, so that frame
// decides the size (unless the constructor fixed it). Every encoder takes odd sizes
// (4:2:0 chroma planes round up); an encoder that refuses the size or the rate (MPEG-4
// takes rates up to 65535) fails the file at the first frame. The file is complete only
// after Finish or the destructor: the index and the trailer are written there.
class AviWriter {
public:
    // `width` and `height` not positive (the save command passes -1) let the first frame
    // decide. A rate that is not positive, or an empty file name, leaves the writer
    // failed (ok 0). A null `chooser` takes uncompressed frames.
    AviWriter(const char* file_name, int frames_per_second, int width, int height, AviOptionsChooser* chooser);
    virtual ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Appends one frame; true if it was written. False at once when the writer has failed
    // or finished. A frame of another size is skipped: false, ok unchanged, the file
    // stays good. A frame that cannot be packed (null buffer, size not positive, no
    // memory), a cancelled choice, or any failure to create, set up or write the file
    // clears ok and returns false.
    virtual bool AddFrame(const AviFrame& frame);
    virtual int IsOk() const { return ok; }
    // Drains the encoder, writes the index and trailer and closes the file; clears ok
    // when any of it fails. Returns ok. Only the first call does anything; the
    // destructor calls it when the caller has not, so a caller that must know whether
    // the finished file is good calls Finish before IsOk.
    int Finish();

    int frameWidth = -1;
    int frameHeight = -1;
    int rate = 0;
    int frameCount = 0;
    int ok = 1;
    std::string fileName;

private:
    bool SetUpFile();
    bool WritePacket(AVPacket* pkt);
    bool DrainEncoder();
    void ReleaseAll();

    AviOptionsChooser* chooser_ = nullptr;
    bool finished_ = false;
    bool header_written_ = false;
    bool raw_frames_ = false;
    AVFormatContext* aviFile = nullptr;
    AVStream* videoStream = nullptr;             // owned by aviFile
    AVCodecContext* compressedStream = nullptr;  // null for uncompressed frames
    SwsContext* converter = nullptr;
    AVFrame* picture = nullptr;
    AVPacket* packet = nullptr;
};

}  // namespace flowloom
