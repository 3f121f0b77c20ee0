#include "media/avi_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace flowloom {

namespace {

// Ten stream positions per frame: frame k starts at 10 x k / rate = k / fps seconds.
constexpr int kPositionsPerFrame = 10;
constexpr int kDefaultQuality = 75;

struct EncoderEntry {
    const char* name;
    const char* label;
    AVCodecID id;
    int has_quality;
    AVPixelFormat pixel_format;
};

// The pixel formats keep every size legal: the 4:2:0 planes round their odd sides up,
// and FFV1 takes the frame's own blue-green-red bytes, so it gives them back exactly.
constexpr EncoderEntry kEncoders[] = {
    {"rawvideo", "Uncompressed frames (24-bit)", AV_CODEC_ID_RAWVIDEO, 0, AV_PIX_FMT_BGR24},
    {"mjpeg", "Motion JPEG", AV_CODEC_ID_MJPEG, 1, AV_PIX_FMT_YUVJ420P},
    {"mpeg4", "MPEG-4 Part 2", AV_CODEC_ID_MPEG4, 1, AV_PIX_FMT_YUV420P},
    {"ffv1", "FFV1 (lossless)", AV_CODEC_ID_FFV1, 0, AV_PIX_FMT_BGR0},
};

const EncoderEntry* FindEntry(const std::string& name) {
    for (const EncoderEntry& entry : kEncoders)
        if (name == entry.name) return &entry;
    return nullptr;
}

bool Offers(const std::vector<AviCompressor>& offered, const std::string& name) {
    return std::any_of(offered.begin(), offered.end(), [&](const AviCompressor& c) { return c.name == name; });
}

void PutLittleEndian(unsigned char* at, uint32_t value, int count) {
    for (int i = 0; i < count; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Quality 0..100 onto the quantiser scale 31..1 (1 is the finest).
int QuantiserForQuality(int quality) {
    return 31 - std::clamp(quality, 0, 100) * 30 / 100;
}

}  // namespace

int64_t PackedDibRowBytes(int width, int bits) {
    if (width <= 0 || bits <= 0) return 0;
    return (int64_t{width} * bits + 31) / 32 * 4;
}

int PackedDibColors(int bits) {
    return bits >= 1 && bits <= 8 ? 1 << bits : 0;
}

MallocBuffer<unsigned char> BitmapToPackedDib(const AviFrame& frame, int bits) {
    MallocBuffer<unsigned char> block;
    if (bits != 24 || !frame.pixels || frame.width <= 0 || frame.height <= 0) return block;
    const int64_t row_bytes = PackedDibRowBytes(frame.width, bits);
    const int64_t image_bytes = row_bytes * frame.height;
    const int colors = PackedDibColors(bits);
    const int64_t pixels_at = kPackedDibHeaderBytes + int64_t{4} * colors;
    // The header's image size is 32 bits and a packet's size an int; the margin leaves
    // room for the codec library's input padding.
    if (image_bytes > std::numeric_limits<int32_t>::max() - pixels_at - 4096) return block;
    block.Adopt(static_cast<unsigned char*>(std::calloc(static_cast<size_t>(pixels_at + image_bytes), 1)));
    if (!block) return block;

    unsigned char* header = block.get();
    PutLittleEndian(header + 0, kPackedDibHeaderBytes, 4);
    PutLittleEndian(header + 4, static_cast<uint32_t>(frame.width), 4);
    PutLittleEndian(header + 8, static_cast<uint32_t>(frame.height), 4);  // positive: bottom-up
    PutLittleEndian(header + 12, 1, 2);                                   // planes
    PutLittleEndian(header + 14, static_cast<uint32_t>(bits), 2);
    PutLittleEndian(header + 20, static_cast<uint32_t>(image_bytes), 4);
    PutLittleEndian(header + 32, static_cast<uint32_t>(colors), 4);
    // Compression, resolutions and important colours stay 0; so does the row padding.

    const size_t source_row = static_cast<size_t>(frame.width) * 3;
    unsigned char* rows = block.get() + pixels_at;
    for (int64_t y = 0; y < frame.height; ++y)
        std::memcpy(rows + (frame.height - 1 - y) * row_bytes, frame.pixels + y * source_row, source_row);
    return block;
}

std::vector<AviCompressor> AviCompressorsAvailable() {
    std::vector<AviCompressor> offered;
    const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
    if (!avi) return offered;
    for (const EncoderEntry& entry : kEncoders) {
        if (!avcodec_find_encoder(entry.id)) continue;
        if (avformat_query_codec(avi, entry.id, FF_COMPLIANCE_NORMAL) != 1) continue;
        offered.push_back({entry.name, entry.label, entry.has_quality});
    }
    return offered;
}

AviWriter::AviWriter(const char* file_name, int frames_per_second, int width, int height, AviOptionsChooser* chooser)
    : fileName(file_name ? file_name : ""), chooser_(chooser) {
    // The library's warnings would reach the terminal; the writer reports through ok.
    if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    if (frames_per_second > 0 && frames_per_second <= std::numeric_limits<int>::max() / kPositionsPerFrame)
        rate = kPositionsPerFrame * frames_per_second;
    else
        ok = 0;  // a time base of 1/0 has no meaning
    if (width > 0) frameWidth = width;
    if (height > 0) frameHeight = height;
    if (fileName.empty()) ok = 0;
}

AviWriter::~AviWriter() {
    Finish();
}

bool AviWriter::AddFrame(const AviFrame& frame) {
    if (!ok || finished_) return false;
    MallocBuffer<unsigned char> dib = BitmapToPackedDib(frame, 24);
    if (!dib) {
        // A frame that could not be loaded must not vanish silently from the video.
        ok = 0;
        return false;
    }
    if ((frameWidth >= 0 && frameWidth != frame.width) || (frameHeight >= 0 && frameHeight != frame.height))
        return false;
    frameWidth = frame.width;
    frameHeight = frame.height;

    if (!header_written_ && !SetUpFile()) {
        ok = 0;
        return false;
    }

    const int64_t row_bytes = PackedDibRowBytes(frameWidth, 24);
    const int64_t image_bytes = row_bytes * frameHeight;
    const unsigned char* rows = dib.get() + kPackedDibHeaderBytes + 4 * PackedDibColors(24);
    const int64_t position = int64_t{kPositionsPerFrame} * frameCount;
    bool written = false;
    if (raw_frames_) {
        // Uncompressed frames are the packed rows themselves, bottom-up and padded.
        if (av_new_packet(packet, static_cast<int>(image_bytes)) == 0) {
            std::memcpy(packet->data, rows, static_cast<size_t>(image_bytes));
            packet->pts = packet->dts = position;
            written = WritePacket(packet);
        }
    } else if (av_frame_make_writable(picture) == 0) {
        // The rows are bottom-up: start at the last one and step backwards.
        const uint8_t* source[4] = {rows + (frameHeight - 1) * row_bytes, nullptr, nullptr, nullptr};
        const int source_stride[4] = {-static_cast<int>(row_bytes), 0, 0, 0};
        if (sws_scale(converter, source, source_stride, 0, frameHeight, picture->data, picture->linesize) ==
            frameHeight) {
            picture->pts = position;
            picture->pict_type = AV_PICTURE_TYPE_I;
            picture->quality = compressedStream->global_quality;
            written = avcodec_send_frame(compressedStream, picture) == 0 && DrainEncoder();
        }
    }
    if (!written) {
        ok = 0;
        return false;
    }
    ++frameCount;
    return true;
}

bool AviWriter::SetUpFile() {
    // Open the file first, as the stream and the encoder belong to it.
    const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
    if (!avi || avformat_alloc_output_context2(&aviFile, avi, nullptr, fileName.c_str()) < 0) return false;
    // The "file:" prefix keeps a path with a colon from being taken for a network address.
    if (avio_open(&aviFile->pb, ("file:" + fileName).c_str(), AVIO_FLAG_WRITE) < 0) return false;

    videoStream = avformat_new_stream(aviFile, nullptr);
    if (!videoStream) return false;
    videoStream->time_base = AVRational{1, rate};

    const std::vector<AviCompressor> offered = AviCompressorsAvailable();
    if (offered.empty()) return false;
    AviCompressor chosen = offered.front();
    int quality = kDefaultQuality;
    if (chooser_ && !chooser_->Choose(offered, chosen, quality)) return false;
    const EncoderEntry* entry = FindEntry(chosen.name);
    if (!entry || !Offers(offered, chosen.name)) return false;

    packet = av_packet_alloc();
    if (!packet) return false;
    AVDictionary* muxer_options = nullptr;
    if (entry->id == AV_CODEC_ID_RAWVIDEO) {
        raw_frames_ = true;
        AVCodecParameters* par = videoStream->codecpar;
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = AV_CODEC_ID_RAWVIDEO;
        par->format = AV_PIX_FMT_BGR24;
        par->bits_per_coded_sample = 24;
        par->width = frameWidth;
        par->height = frameHeight;
        // The packets are bottom-up rows; say so in the header (a positive height).
        if (av_dict_set(&muxer_options, "flipped_raw_rgb", "1", 0) < 0) return false;
    } else {
        const AVCodec* codec = avcodec_find_encoder(entry->id);
        if (!codec) return false;
        compressedStream = avcodec_alloc_context3(codec);
        if (!compressedStream) return false;
        AVCodecContext* c = compressedStream;
        c->width = frameWidth;
        c->height = frameHeight;
        c->pix_fmt = entry->pixel_format;
        c->time_base = AVRational{1, rate};
        // Every frame a key frame: no prediction between frames, no reordering.
        c->gop_size = 1;
        c->max_b_frames = 0;
        if (entry->id == AV_CODEC_ID_MJPEG) c->color_range = AVCOL_RANGE_JPEG;
        if (entry->has_quality) {
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = FF_QP2LAMBDA * QuantiserForQuality(quality);
        }
        if (avcodec_open2(c, codec, nullptr) < 0) return false;
        if (avcodec_parameters_from_context(videoStream->codecpar, c) < 0) return false;

        converter = sws_getContext(frameWidth, frameHeight, AV_PIX_FMT_BGR24, frameWidth, frameHeight,
                                   entry->pixel_format, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
        picture = av_frame_alloc();
        if (!converter || !picture) return false;
        picture->format = entry->pixel_format;
        picture->width = frameWidth;
        picture->height = frameHeight;
        if (av_frame_get_buffer(picture, 0) < 0) return false;
    }

    const int header = avformat_write_header(aviFile, &muxer_options);
    av_dict_free(&muxer_options);
    if (header < 0) return false;
    header_written_ = true;
    return true;
}

bool AviWriter::WritePacket(AVPacket* pkt) {
    av_packet_rescale_ts(pkt, AVRational{1, rate}, videoStream->time_base);
    pkt->stream_index = videoStream->index;
    pkt->flags |= AV_PKT_FLAG_KEY;
    const int result = av_write_frame(aviFile, pkt);
    av_packet_unref(pkt);
    return result >= 0;
}

bool AviWriter::DrainEncoder() {
    for (;;) {
        const int result = avcodec_receive_packet(compressedStream, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
        if (result < 0 || !WritePacket(packet)) return false;
    }
}

int AviWriter::Finish() {
    if (finished_) return ok;
    finished_ = true;
    if (header_written_) {
        if (ok && compressedStream && (avcodec_send_frame(compressedStream, nullptr) < 0 || !DrainEncoder())) ok = 0;
        // Written even after a failure: the frames before it stay readable.
        if (av_write_trailer(aviFile) < 0) ok = 0;
    }
    if (aviFile && aviFile->pb && avio_closep(&aviFile->pb) < 0) ok = 0;
    ReleaseAll();
    return ok;
}

void AviWriter::ReleaseAll() {
    avcodec_free_context(&compressedStream);
    sws_freeContext(converter);
    converter = nullptr;
    av_frame_free(&picture);
    av_packet_free(&packet);
    if (aviFile) {
        if (aviFile->pb) avio_closep(&aviFile->pb);
        avformat_free_context(aviFile);
        aviFile = nullptr;
    }
    videoStream = nullptr;
}

}  // namespace flowloom
