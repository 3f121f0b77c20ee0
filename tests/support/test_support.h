#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "lic/streamline_simd.h"
#include "media/host.h"

namespace flowloom::test {

// Records every host call, for tests that check progress bars and messages.
class RecordingHost : public Host {
public:
    void ProgressCreate(int range_max) override;
    void ProgressStep() override { ++steps; }
    void ProgressDestroy() override { ++destroyed; }
    void ShowMessage(const char* text) override { messages.emplace_back(text); }

    int created = 0;
    int destroyed = 0;
    int steps = 0;
    int last_range = 0;
    std::vector<std::string> messages;
};

// A fresh directory below the system's temporary directory, removed with its content.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::vector<unsigned char> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes);

// Runs a shell command line; returns its exit status (-1 when it could not run).
int RunCommand(const std::string& command_line);
// Whether `program` is found on the PATH.
bool HaveProgram(const std::string& program);

// Renders on the scalar path, then on every instruction set this machine runs, and
// expects the same bytes from each; the path is left on "auto".
template <class Render>
void ExpectEveryPathGivesTheScalarBytes(Render&& render, const std::string& what) {
    ASSERT_TRUE(SetSimdPath("scalar"));
    const auto reference = render();
    for (const std::string& name : SimdPathNames()) {
        ASSERT_TRUE(SetSimdPath(name));
        ASSERT_EQ(render(), reference) << what << " on " << name;
    }
    SetSimdPath("auto");
}

}  // namespace flowloom::test
