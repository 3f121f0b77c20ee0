#include "lic/field_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "media/malloc_buffer.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

using Bytes = std::vector<unsigned char>;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

void PutWord(Bytes& out, uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<unsigned char>(word >> shift));
}

// A little-endian binary field file: the given header integers, then the floats.
Bytes BinaryFile(const std::vector<int32_t>& header, const std::vector<float>& body) {
    Bytes out;
    for (int32_t value : header) PutWord(out, static_cast<uint32_t>(value));
    for (float value : body) {
        uint32_t word;
        std::memcpy(&word, &value, 4);
        PutWord(out, word);
    }
    return out;
}

// What a big-endian machine writes for the same integers and floats.
Bytes Swapped(Bytes bytes) {
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        std::swap(bytes[i], bytes[i + 3]);
        std::swap(bytes[i + 1], bytes[i + 2]);
    }
    return bytes;
}

std::vector<float> Ramp(std::size_t count) {
    std::vector<float> values(count);
    for (std::size_t i = 0; i < count; ++i) values[i] = 0.25f * static_cast<float>(i) - 3.0f;
    return values;
}

std::vector<float> Floats(const float* data, std::size_t count) {
    return {data, data + count};
}

struct BinaryResult {
    MallocBuffer<float> field;
    int width;
    int height;
    std::string output;
};

// Loads through the path reader, with dimensions that start as 11 x 13.
BinaryResult LoadBinary(const std::string& path) {
    BinaryResult result{MallocBuffer<float>(), 11, 13, ""};
    testing::internal::CaptureStdout();
    result.field.Adopt(LoadBinaryData(result.width, result.height, path.c_str()));
    result.output = testing::internal::GetCapturedStdout();
    return result;
}

// Loads from memory through the stream reader, as the fuzzer does.
BinaryResult LoadBinaryFromMemory(Bytes bytes) {
    BinaryResult result{MallocBuffer<float>(), 11, 13, ""};
    std::FILE* stream = fmemopen(bytes.data(), bytes.size(), "rb");
    EXPECT_NE(stream, nullptr);
    testing::internal::CaptureStdout();
    result.field.Adopt(
        LoadBinaryDataStream(result.width, result.height, stream, "mem.vec", static_cast<long>(bytes.size())));
    result.output = testing::internal::GetCapturedStdout();
    std::fclose(stream);
    return result;
}

TEST(FieldFile, WriteThenReadInBothByteOrders) {
    TempDir dir;
    // Widths 4..9 hit the smallest two-integer header and odd and even rows.
    for (int width = 4; width <= 9; ++width) {
        const int height = width % 3 + 1;
        const std::size_t samples = static_cast<std::size_t>(width) * height;
        std::vector<float> vectors(2 * samples), magnitudes(samples);
        for (std::size_t i = 0; i < samples; ++i) {
            const float angle = 0.37f * static_cast<float>(i);
            vectors[2 * i] = std::cos(angle);
            vectors[2 * i + 1] = std::sin(angle);
            magnitudes[i] = 1.0f + 3.5f * static_cast<float>(i);
        }
        vectors[0] = vectors[1] = 0.0f;  // a zero vector stays zero

        const std::string little = dir.File("little.vec");
        ASSERT_EQ(WriteFieldFile(little.c_str(), width, height, vectors.data(), magnitudes.data()), 1);
        const Bytes written = ReadFileBytes(little);
        ASSERT_EQ(written.size(), 8 + 8 * samples);
        EXPECT_EQ(Bytes(written.begin(), written.begin() + 8), BinaryFile({width, height}, {}));

        BinaryResult le = LoadBinary(little);
        ASSERT_TRUE(le.field) << le.output;
        EXPECT_EQ(le.width, width);
        EXPECT_EQ(le.height, height);
        EXPECT_EQ(le.output, "");
        EXPECT_EQ(le.field[0], 0.0f);
        EXPECT_EQ(le.field[1], 0.0f);
        for (std::size_t i = 1; i < samples; ++i) {
            EXPECT_NEAR(le.field[2 * i], vectors[2 * i] * magnitudes[i], 1e-4f * magnitudes[i]);
            EXPECT_NEAR(le.field[2 * i + 1], vectors[2 * i + 1] * magnitudes[i], 1e-4f * magnitudes[i]);
        }

        const std::string big = dir.File("big.vec");
        WriteFileBytes(big, Swapped(written));
        BinaryResult be = LoadBinary(big);
        ASSERT_TRUE(be.field) << be.output;
        EXPECT_EQ(be.width, width);
        EXPECT_EQ(be.height, height);
        EXPECT_EQ(0, std::memcmp(be.field.get(), le.field.get(), 8 * samples));
    }
}

TEST(FieldFile, HeaderFormsAndTrailingBytes) {
    // 300 x 200 with its exact body, then with bytes after the body, which are ignored.
    const std::vector<float> body = Ramp(2 * 300 * 200);
    Bytes file = BinaryFile({300, 200}, body);
    file.insert(file.end(), {1, 2, 3});
    for (const Bytes& bytes : {file, Swapped(file)}) {
        BinaryResult r = LoadBinaryFromMemory(bytes);
        ASSERT_TRUE(r.field);
        EXPECT_EQ(r.width, 300);
        EXPECT_EQ(r.height, 200);
        EXPECT_EQ(Floats(r.field.get(), body.size()), body);
    }

    // The three-integer form is the only one for a width of 2 or 3; non-finite values are data.
    std::vector<float> small = Ramp(2 * 3 * 2);
    small[4] = std::numeric_limits<float>::infinity();
    small[7] = -std::numeric_limits<float>::infinity();
    const Bytes three = BinaryFile({2, 3, 2}, small);
    for (const Bytes& bytes : {three, Swapped(three)}) {
        BinaryResult r = LoadBinaryFromMemory(bytes);
        ASSERT_TRUE(r.field);
        EXPECT_EQ(r.width, 3);
        EXPECT_EQ(r.height, 2);
        EXPECT_EQ(Floats(r.field.get(), small.size()), small);
    }

    // A NaN keeps its exact bits.
    const uint32_t nan_bits = 0x7FC01234u;
    float nan;
    std::memcpy(&nan, &nan_bits, 4);
    BinaryResult r = LoadBinaryFromMemory(BinaryFile({4, 1}, {nan, 1, 2, 3, 4, 5, 6, 7}));
    ASSERT_TRUE(r.field);
    uint32_t read_bits;
    std::memcpy(&read_bits, r.field.get(), 4);
    EXPECT_EQ(read_bits, nan_bits);
}

TEST(FieldFile, RefusedBinaryFilesLeaveTheDimensions) {
    struct Case {
        const char* name;
        Bytes bytes;
        const char* message;  // what the reader prints, "" for nothing
    };
    const std::string short_body = "\nmem.vec has no sufficient vector data!!!\n";
    const Case cases[] = {
        {"3D", BinaryFile({3, 4, 4}, Ramp(3 * 16)), "\nmem.vec may be a 3D vector data file!!!\n"},
        {"3D big-endian", Swapped(BinaryFile({3, 4, 4}, Ramp(3 * 16))), "\nmem.vec may be a 3D vector data file!!!\n"},
        {"one float short", BinaryFile({4, 3}, Ramp(2 * 12 - 1)), short_body.c_str()},
        {"one float short, big-endian", Swapped(BinaryFile({4, 3}, Ramp(2 * 12 - 1))), short_body.c_str()},
        {"three-integer, one float short", BinaryFile({2, 3, 2}, Ramp(11)), short_body.c_str()},
        // A header may claim any size: the body must fit in the file, checked before allocating.
        {"huge height", BinaryFile({3999, 2000000000}, Ramp(3)), short_body.c_str()},
        {"huge both", BinaryFile({2, INT_MAX, INT_MAX}, Ramp(2)), short_body.c_str()},
        {"zero height", BinaryFile({4, 0}, Ramp(8)), ""},
        {"negative height", BinaryFile({4, -5}, Ramp(8)), ""},
        {"negative height, big-endian", Swapped(BinaryFile({4, -5}, Ramp(8))), ""},
        {"three-integer, zero width", BinaryFile({2, 0, 4}, Ramp(8)), ""},
        {"three-integer, negative width", BinaryFile({2, -1, 4}, Ramp(8)), ""},
        {"three-integer, missing height", BinaryFile({2, 4}, {}), ""},
        {"first integer 4000", BinaryFile({4000, 1}, Ramp(8)), ""},
        {"first integer out of range both ways", BinaryFile({0x00FA0FA0, 1}, Ramp(8)), ""},
        {"first integer 1", BinaryFile({1, 4}, Ramp(8)), ""},
        {"header cut", Bytes{4, 0, 0, 0, 1, 0}, ""},
        {"plain text", Bytes{'0', '.', '5', ' ', '1', '\n', '2', ' ', '3', '\n'}, ""},
        {"text starting with a blank", Bytes{' ', '\t', '9', '9', '9', '9', '\n'}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BinaryResult r = LoadBinaryFromMemory(c.bytes);
        EXPECT_FALSE(r.field);
        EXPECT_EQ(r.width, 11);
        EXPECT_EQ(r.height, 13);
        EXPECT_EQ(r.output, c.message);
    }
}

TEST(FieldFile, PathReadersReportFilesTheyCannotOpen) {
    TempDir dir;
    for (const std::string& path : {dir.File("missing.vec"), dir.path().string()}) {
        SCOPED_TRACE(path);
        BinaryResult r = LoadBinary(path);
        EXPECT_FALSE(r.field);
        EXPECT_EQ(r.width, 11);
        EXPECT_EQ(r.height, 13);
        EXPECT_EQ(r.output, "\nFailed to open " + path + " as a binary file!!!\n");

        testing::internal::CaptureStdout();
        MallocBuffer<float> text(LoadTextData(4, 4, path.c_str()));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFailed to open " + path + " as a   text file!!!\n");
        EXPECT_FALSE(text);
    }

    // A refused binary file (here three-dimensional) is still opened by the text reader,
    // which finds no number in its bytes.
    const std::string path = dir.File("d3.vec");
    WriteFileBytes(path, BinaryFile({3, 4, 4}, Ramp(8)));
    BinaryResult r = LoadBinary(path);
    EXPECT_FALSE(r.field);
    EXPECT_EQ(r.output, "\n" + path + " may be a 3D vector data file!!!\n");
    testing::internal::CaptureStdout();
    MallocBuffer<float> text(LoadTextData(r.width, r.height, path.c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n" + path + " holds no number to read as a text field!!!\n");
    EXPECT_FALSE(text);
}

std::vector<float> LoadText(int width, int height, const std::string& content) {
    TempDir dir;
    const std::string path = dir.File("field.txt");
    WriteFileBytes(path, Bytes(content.begin(), content.end()));
    MallocBuffer<float> field(LoadTextData(width, height, path.c_str()));
    if (!field) return {};
    return Floats(field.get(), 2 * static_cast<std::size_t>(width) * height);
}

TEST(FieldFile, TextFilesFillTheCurrentGrid) {
    // Exact count, any white space, numbers beyond the grid ignored; read as double, kept as float.
    EXPECT_EQ(LoadText(2, 1, "  0.1\t-2e1\n\n3.5   4 99 100"), (std::vector<float>{0.1f, -20.0f, 3.5f, 4.0f}));
    // Too few numbers: the rest repeat the last one.
    EXPECT_EQ(LoadText(2, 2, "1 2\n3\n"), (std::vector<float>{1, 2, 3, 3, 3, 3, 3, 3}));
    // A number, then garbage: the scan stops at the garbage and repeats.
    EXPECT_EQ(LoadText(3, 1, "5 6 x 7 8 9"), (std::vector<float>{5, 6, 6, 6, 6, 6}));
    // A failed scan does not end the reading: a lone sign is skipped, the next number read.
    EXPECT_EQ(LoadText(2, 1, "1 - 5"), (std::vector<float>{1, 1, 5, 5}));
    // Non-finite numbers are data.
    const std::vector<float> odd = LoadText(1, 1, "inf nan");
    ASSERT_EQ(odd.size(), 2u);
    EXPECT_TRUE(std::isinf(odd[0]));
    EXPECT_TRUE(std::isnan(odd[1]));
}

// An empty file, or garbage before any number, holds no field: a failed read (so the
// engine falls back to an analytic field), not a grid of zeros.
TEST(FieldFile, TextWithoutANumberFails) {
    TempDir dir;
    for (const std::string content : {"", "   \n\t", "vx vy\n1 2 3 4", "\x89PNG\r\n"}) {
        SCOPED_TRACE(content);
        const std::string path = dir.File("none.vec");
        WriteFileBytes(path, Bytes(content.begin(), content.end()));
        testing::internal::CaptureStdout();
        MallocBuffer<float> field(LoadTextData(3, 2, path.c_str()));
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "\n" + path + " holds no number to read as a text field!!!\n");
        EXPECT_FALSE(field);
        std::FILE* stream = std::fopen(path.c_str(), "r");
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(LoadTextDataStream(3, 2, stream), nullptr);
        std::fclose(stream);
    }
}

TEST(FieldFile, TextReaderRefusesImpossibleGrids) {
    TempDir dir;
    const std::string path = dir.File("field.txt");
    WriteFileBytes(path, Bytes{'1', ' ', '2', '\n'});
    for (int dims : {0, -1, INT_MIN}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(LoadTextData(dims, 4, path.c_str()), nullptr);
        EXPECT_EQ(LoadTextData(4, dims, path.c_str()), nullptr);
        EXPECT_EQ(LoadTextDataStream(dims, dims, nullptr), nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
    // 2 * w * h beyond what any index reaches: refused as an allocation, nothing scanned.
    testing::internal::CaptureStdout();
    EXPECT_EQ(LoadTextData(INT_MAX, INT_MAX, path.c_str()), nullptr);
    EXPECT_EQ(LoadTextData(70000, 70000, path.c_str()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nFailed to allocate memory for LoadTextData:p_vctr!!!\n"
              "\nFailed to allocate memory for LoadTextData:p_vctr!!!\n");
}

TEST(FieldFile, WriterScalesDirectionsByMagnitudeOrByOne) {
    TempDir dir;
    const std::string path = dir.File("out.vec");
    // Below a squared length of 1e-12 a vector has no direction; huge ones keep theirs.
    const std::vector<float> vectors = {3, 4, 0, 0, 1e-5f, 0, -5e20f, 5e20f, 0, -2, 1e-7f, 0};
    const std::vector<float> magnitudes = {10, 7, 8, 2, 0.5f, 9};

    ASSERT_EQ(WriteFieldFile(path.c_str(), 6, 1, vectors.data(), magnitudes.data()), 1);
    const float r = std::sqrt(0.5f);
    Bytes expected = BinaryFile({6, 1}, {6, 8, 0, 0, 8, 0, -2 * r, 2 * r, 0, -0.5f, 0, 0});
    EXPECT_EQ(ReadFileBytes(path), expected);

    // No magnitudes (the image path keeps none): unit directions.
    ASSERT_EQ(WriteFieldFile(path.c_str(), 6, 1, vectors.data(), nullptr), 1);
    expected = BinaryFile({6, 1}, {0.6f, 0.8f, 0, 0, 1, 0, -r, r, 0, -1, 0, 0});
    EXPECT_EQ(ReadFileBytes(path), expected);
}

TEST(FieldFile, WriterReportsFilesItCannotWrite) {
    TempDir dir;
    const std::vector<float> vectors(8, 1.0f);
    const std::string path = dir.File("no-such-dir/out.vec");
    testing::internal::CaptureStdout();
    EXPECT_EQ(WriteFieldFile(path.c_str(), 4, 1, vectors.data(), nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to create " + path + " for writing!\n");
    EXPECT_FALSE(std::filesystem::exists(path));

    // The disk fills up: the failure shows at the write or at the close, not as success.
    if (std::filesystem::exists("/dev/full")) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(WriteFieldFile("/dev/full", 4, 1, vectors.data(), nullptr), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to create /dev/full for writing!\n");
    }

    // Nothing to write from: refused before the file is created.
    const std::string unused = dir.File("unused.vec");
    EXPECT_EQ(WriteFieldFile(unused.c_str(), 4, 1, nullptr, nullptr), 0);
    EXPECT_EQ(WriteFieldFile(unused.c_str(), -4, 1, vectors.data(), nullptr), 0);
    EXPECT_FALSE(std::filesystem::exists(unused));
}

}  // namespace
}  // namespace flowloom
