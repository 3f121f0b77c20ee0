#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "lic/field_file.h"
#include "media/malloc_buffer.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

const std::string kRender = FLOWLOOM_RENDER_BINARY;
const std::string kConvert =
    (std::filesystem::path(FLOWLOOM_RENDER_BINARY).parent_path() / "flowloom-convert").string();

int Exec(const std::string& program, const std::string& arguments, const std::string& log) {
    return test::RunCommand(program + " " + arguments + " >" + log + " 2>&1");
}

std::string Text(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A 3 x 2 table with one point missing: north is the top row and v points up, so
// vy = -v; the .vec needs the three-integer header for a width below 4.
TEST(FlowloomConvert, TableBecomesAVecThatReadsBackWithTheMissingPointAsNaN) {
    test::TempDir dir;
    std::ofstream(dir.File("t.csv")) << "lat,lon,u,v\n1,0,1,2\n1,1,3,4\n1,2,5,6\n0,0,7,8\n0,2,11,12\n";
    ASSERT_EQ(Exec(kConvert, dir.File("t.csv") + " " + dir.File("t.vec"), dir.File("log")), 0) << Text(dir.File("log"));
    int width = 0, height = 0;
    MallocBuffer<float> v(LoadBinaryData(width, height, dir.File("t.vec").c_str()));
    ASSERT_TRUE(v);
    ASSERT_EQ(width, 3);
    ASSERT_EQ(height, 2);
    const float expected[] = {1, -2, 3, -4, 5, -6, 7, -8, 0, 0, 11, -12};
    for (int k = 0; k < 12; ++k) {
        if (k == 8 || k == 9)
            EXPECT_TRUE(std::isnan(v[k])) << k;
        else
            EXPECT_EQ(v[k], expected[k]) << k;
    }
}

TEST(FlowloomConvert, BadInputAndBadOptionsEndWithAMessageAndAStatus) {
    test::TempDir dir;
    std::ofstream(dir.File("bad.csv")) << "x,y,u,v\n0,0,1,east\n";
    const std::string log = dir.File("log");
    EXPECT_EQ(Exec(kConvert, dir.File("bad.csv") + " " + dir.File("o.vec"), log), 1);
    EXPECT_NE(Text(log).find("bad.csv: line 2, column 'v': 'east' is not a number"), std::string::npos) << Text(log);
    EXPECT_FALSE(std::filesystem::exists(dir.File("o.vec")));
    EXPECT_EQ(Exec(kRender, "--field-file " + dir.File("bad.csv") + " -o " + dir.File("p.bmp"), log), 1);
    EXPECT_NE(Text(log).find("is not a number"), std::string::npos) << Text(log);
    EXPECT_FALSE(std::filesystem::exists(dir.File("p.bmp")));
    EXPECT_EQ(Exec(kRender, "--u-var a --v-var b --gradient uphill", log), 2);
    EXPECT_EQ(Exec(kConvert, "--time -1 a b", log), 2);
}

// A classic NetCDF whose variable name overran the importer's name buffers, and a BMP the
// reader does not take: each tool ends with status 1, names the file and the fault, and
// writes nothing.
TEST(FlowloomConvert, HostileFilesEndWithTheFaultNamedAndNothingWritten) {
    test::TempDir dir;
    const std::string script = dir.File("write.py");
    std::ofstream(script) << "import sys, netCDF4\n"
                             "ds = netCDF4.Dataset(sys.argv[1], 'w', format='NETCDF3_CLASSIC')\n"
                             "ds.createDimension('y', 2); ds.createDimension('x', 4)\n"
                             "for n in ('u', 'v'): ds.createVariable(n, 'f4', ('y', 'x'))[:] = 1\n"
                             "ds.close()\n"
                             "b = bytearray(open(sys.argv[1], 'rb').read())\n"
                             "i = b.index(b'\\x00\\x00\\x00\\x01u\\x00\\x00\\x00')\n"
                             "b[i:i + 8] = (300).to_bytes(4, 'big') + b'u' * 300\n"
                             "open(sys.argv[1], 'wb').write(bytes(b))\n";
    const std::string nc = dir.File("long.nc");
    ASSERT_EQ(test::RunCommand("/usr/bin/python3 " + script + " " + nc), 0);
    const std::string log = dir.File("log");
    EXPECT_EQ(Exec(kConvert, nc + " " + dir.File("o.vec"), log), 1);
    EXPECT_NE(Text(log).find(nc + ": the header holds a name of 300 bytes"), std::string::npos) << Text(log);
    EXPECT_FALSE(std::filesystem::exists(dir.File("o.vec")));
    EXPECT_EQ(Exec(kRender, "--field-file " + nc + " -o " + dir.File("p.bmp"), log), 1);
    EXPECT_NE(Text(log).find("names have at most 256"), std::string::npos) << Text(log);
    EXPECT_FALSE(std::filesystem::exists(dir.File("p.bmp")));

    // An OS/2 BMP: the reason beside the renderer's line.
    std::ofstream(dir.File("os2.bmp"), std::ios::binary)
        << std::string("BM\0\0\0\0\0\0\0\0\x1a\0\0\0\x0c\0\0\0", 18) << std::string(12, '\x01');
    EXPECT_EQ(Exec(kRender, "--method licing --image " + dir.File("os2.bmp") + " -o " + dir.File("i.bmp"), log), 1);
    EXPECT_NE(Text(log).find("could not read the image " + dir.File("os2.bmp") +
                             ": its 12-byte OS/2 info header is not read"),
              std::string::npos)
        << Text(log);
    EXPECT_FALSE(std::filesystem::exists(dir.File("i.bmp")));
}

}  // namespace
}  // namespace flowloom
