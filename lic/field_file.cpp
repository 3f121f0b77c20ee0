#include "lic/field_file.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "media/bmp_writer.h"
#include "media/regular_file.h"

namespace flowloom {

namespace {

// A first header integer in this range is read as written; outside it the file is taken
// to be big-endian.
constexpr int32_t kFirstHeaderMin = 2;
constexpr int32_t kFirstHeaderLimit = 4000;

uint32_t FromLittleEndian(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void ToLittleEndian(uint32_t value, unsigned char* bytes) {
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
    bytes[2] = static_cast<unsigned char>(value >> 16);
    bytes[3] = static_cast<unsigned char>(value >> 24);
}

// A word assembled from the file as little-endian; reversing its bytes gives the
// big-endian reading on any host.
uint32_t Reversed(uint32_t word) {
    ReverseBytes4(&word);
    return word;
}

bool ReadWord(std::FILE* stream, uint32_t& word) {
    unsigned char bytes[4];
    if (std::fread(bytes, 1, 4, stream) != 4) return false;
    word = FromLittleEndian(bytes);
    return true;
}

// Number of floats of a width x height field, or false when it cannot be indexed with an
// int (the engine's sample arithmetic) or the dimensions are not positive.
bool FieldFloatCount(int width, int height, std::size_t& count) {
    if (width <= 0 || height <= 0) return false;
    const uint64_t floats = 2 * static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (floats > static_cast<uint64_t>(INT_MAX)) return false;
    count = static_cast<std::size_t>(floats);
    return true;
}

float* AllocateTextField(int width, int height, std::size_t& count) {
    float* p_vctr = nullptr;
    if (FieldFloatCount(width, height, count)) p_vctr = static_cast<float*>(std::malloc(count * sizeof(float)));
    if (!p_vctr) {
        std::printf("\nFailed to allocate memory for LoadTextData:p_vctr!!!\n");
        std::fflush(stdout);
    }
    return p_vctr;
}

// Returns false when no number at all was read: such a file holds no field.
bool ScanTextField(float* p_vctr, std::size_t count, std::FILE* stream) {
    double value = 0.0;
    bool any_number = false;
    bool stuck = false;
    long failed_at = -2;
    for (std::size_t i = 0; i < count; ++i) {
        if (!stuck) {
            double scanned;
            if (std::fscanf(stream, "%lf\n", &scanned) == 1) {
                value = scanned;
                any_number = true;
            } else {
                // A failed scan may still consume a lone sign or point, after which the
                // next scan can succeed. Once a failure consumes nothing (or the file has
                // ended), every later scan fails the same way: stop asking.
                const long here = std::ftell(stream);
                if (std::feof(stream) || std::ferror(stream) || here == failed_at) stuck = true;
                failed_at = here;
            }
        }
        p_vctr[i] = static_cast<float>(value);
    }
    return any_number;
}

}  // namespace

float* LoadBinaryDataStream(int& width, int& height, std::FILE* stream, const char* path_for_messages,
                            long stream_bytes) {
    if (!stream || stream_bytes < 0) return nullptr;

    uint32_t first, second;
    if (!ReadWord(stream, first) || !ReadWord(stream, second)) return nullptr;
    int32_t n = static_cast<int32_t>(first);
    const bool big_endian = n < kFirstHeaderMin || n >= kFirstHeaderLimit;
    if (big_endian) {
        first = Reversed(first);
        second = Reversed(second);
        n = static_cast<int32_t>(first);
    }
    if (n < kFirstHeaderMin || n >= kFirstHeaderLimit) return nullptr;
    if (n == 3) {
        std::printf("\n%s may be a 3D vector data file!!!\n", path_for_messages);
        std::fflush(stdout);
        return nullptr;
    }

    int32_t file_width = n;
    int32_t file_height = static_cast<int32_t>(second);
    long header_bytes = 8;
    if (n == 2) {
        uint32_t third;
        if (!ReadWord(stream, third)) return nullptr;
        file_width = static_cast<int32_t>(second);
        file_height = static_cast<int32_t>(big_endian ? Reversed(third) : third);
        header_bytes = 12;
    }
    if (file_width <= 0 || file_height <= 0) return nullptr;

    // A header may claim any size; the body must fit in what the file holds, and that is
    // settled before anything is allocated. 8 * w * h could pass 64 bits, w * h cannot.
    const uint64_t samples = static_cast<uint64_t>(file_width) * static_cast<uint64_t>(file_height);
    const uint64_t bytes_left = stream_bytes > header_bytes ? static_cast<uint64_t>(stream_bytes - header_bytes) : 0;
    std::size_t count = 0;
    float* body = nullptr;
    if (samples <= bytes_left / 8) {
        if (!FieldFloatCount(file_width, file_height, count)) return nullptr;
        body = static_cast<float*>(std::malloc(count * sizeof(float)));
        if (!body) return nullptr;
        // The length was measured, yet the stream may still end early (a file cut
        // while we read it): the count read is what counts.
        if (std::fread(body, sizeof(float), count, stream) != count) {
            std::free(body);
            body = nullptr;
        }
    }
    if (!body) {
        std::printf("\n%s has no sufficient vector data!!!\n", path_for_messages);
        std::fflush(stdout);
        return nullptr;
    }

    auto* bytes = reinterpret_cast<unsigned char*>(body);
    for (std::size_t i = 0; i < count; ++i) {
        uint32_t word = FromLittleEndian(bytes + 4 * i);
        if (big_endian) word = Reversed(word);
        std::memcpy(bytes + 4 * i, &word, 4);
    }
    width = file_width;
    height = file_height;
    return body;
}

float* LoadBinaryData(int& width, int& height, const char* path) {
    long bytes = -1;
    std::FILE* file = OpenRegularFile(path, bytes);
    if (!file) {
        std::printf("\nFailed to open %s as a binary file!!!\n", path);
        std::fflush(stdout);
        return nullptr;
    }
    float* field = LoadBinaryDataStream(width, height, file, path, bytes);
    std::fclose(file);
    return field;
}

float* LoadTextDataStream(int width, int height, std::FILE* stream) {
    if (width <= 0 || height <= 0 || !stream) return nullptr;
    std::size_t count = 0;
    float* p_vctr = AllocateTextField(width, height, count);
    if (p_vctr && !ScanTextField(p_vctr, count, stream)) {
        std::free(p_vctr);
        return nullptr;
    }
    return p_vctr;
}

float* LoadTextData(int width, int height, const char* path) {
    if (width <= 0 || height <= 0) return nullptr;
    std::size_t count = 0;
    float* p_vctr = AllocateTextField(width, height, count);
    if (!p_vctr) return nullptr;
    long bytes = -1;
    std::FILE* file = OpenRegularFile(path, bytes);
    if (!file) {
        std::printf("\nFailed to open %s as a   text file!!!\n", path);
        std::fflush(stdout);
        std::free(p_vctr);
        return nullptr;
    }
    const bool any_number = ScanTextField(p_vctr, count, file);
    std::fclose(file);
    if (!any_number) {
        std::printf("\n%s holds no number to read as a text field!!!\n", path);
        std::fflush(stdout);
        std::free(p_vctr);
        return nullptr;
    }
    return p_vctr;
}

VecWrite WriteVecWords(const char* path, const int32_t* header, int header_words, std::size_t samples,
                       const std::function<void(std::size_t start, std::size_t end, float* out)>& fill) {
    std::FILE* file = std::fopen(path, "wb");
    if (!file) return VecWrite::kCannotCreate;
    unsigned char head[12];
    for (int k = 0; k < header_words; ++k) ToLittleEndian(static_cast<uint32_t>(header[k]), head + 4 * k);
    const std::size_t head_bytes = 4 * static_cast<std::size_t>(header_words);
    bool ok = std::fwrite(head, 1, head_bytes, file) == head_bytes;

    constexpr std::size_t kChunkSamples = 1024;
    float pairs[2 * kChunkSamples];
    unsigned char chunk[8 * kChunkSamples];
    for (std::size_t start = 0; ok && start < samples; start += kChunkSamples) {
        const std::size_t end = samples - start < kChunkSamples ? samples : start + kChunkSamples;
        fill(start, end, pairs);
        for (std::size_t i = 0; i < 2 * (end - start); ++i) {
            uint32_t word;
            std::memcpy(&word, pairs + i, 4);
            ToLittleEndian(word, chunk + 4 * i);
        }
        const std::size_t bytes = 8 * (end - start);
        ok = std::fwrite(chunk, 1, bytes, file) == bytes;
    }
    if (std::fclose(file) != 0) ok = false;
    return ok ? VecWrite::kWritten : VecWrite::kIncomplete;
}

int WriteFieldFile(const char* path, int width, int height, const float* vectors, const float* magnitudes,
                   const unsigned char* mask) {
    if (width < 0 || height < 0) return 0;
    const std::size_t samples = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (samples > 0 && !vectors) return 0;

    const int32_t header[2] = {width, height};
    const VecWrite result =
        WriteVecWords(path, header, 2, samples, [&](std::size_t start, std::size_t end, float* out) {
            for (std::size_t i = start; i < end; ++i, out += 2) {
                // In double, so that a component beyond 1e19 does not overflow the squared length.
                const double vx = vectors[2 * i];
                const double vy = vectors[2 * i + 1];
                const double length2 = vx * vx + vy * vy;
                float dir[2] = {0.0f, 0.0f};
                if (!(length2 < 1e-12)) {
                    const double scale = 1.0 / std::sqrt(length2);
                    dir[0] = static_cast<float>(vx * scale);
                    dir[1] = static_cast<float>(vy * scale);
                }
                const float magnitude = magnitudes ? magnitudes[i] : 1.0f;
                const bool masked = mask && mask[i];
                for (int c = 0; c < 2; ++c)
                    out[c] = masked ? std::numeric_limits<float>::quiet_NaN() : dir[c] * magnitude;
            }
        });
    if (result != VecWrite::kWritten) {
        std::printf("Failed to create %s for writing!\n", path);
        std::fflush(stdout);
        return 0;
    }
    return 1;
}

}  // namespace flowloom
