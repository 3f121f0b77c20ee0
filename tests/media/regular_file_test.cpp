#include "media/regular_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "media/bmp_reader.h"
#include "media/malloc_buffer.h"
#include "media/sgi_reader.h"
#include "support/test_support.h"

namespace flowloom {
namespace {

// A named pipe with no writer would block a plain open for ever; a device or a directory
// reads as nothing useful. All are refused at once, as a file that cannot be opened is.
TEST(RegularFile, PipesDevicesAndDirectoriesAreRefusedWithoutWaiting) {
    test::TempDir dir;
    const std::string fifo = dir.File("fifo.bmp");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string regular = dir.File("plain.bin");
    test::WriteFileBytes(regular, {1, 2, 3, 4, 5});
    alarm(60);  // a read that blocks ends the test program instead of hanging the suite

    for (const std::string& path : {fifo, dir.path().string(), std::string("/dev/null")}) {
        SCOPED_TRACE(path);
        long length = 99;
        EXPECT_EQ(OpenRegularFile(path.c_str(), length), nullptr);
        EXPECT_EQ(length, -1);

        BmpReader reader;
        int width = 7;
        int height = 7;
        EXPECT_EQ(reader.Read(path.c_str(), width, height), nullptr);
        EXPECT_EQ(width, 0);

        testing::internal::CaptureStdout();
        EXPECT_EQ(ReadSgiImage24(path.c_str(), width, height), nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFailed to open " + path + "\n");
    }

    long length = -1;
    std::FILE* file = OpenRegularFile(regular.c_str(), length);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(std::fgetc(file), 1);
    std::fclose(file);
    alarm(0);
}

}  // namespace
}  // namespace flowloom
