// Small helpers shared by the unit tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace zorvitest {

// A scratch folder under /tmp, removed with everything in it on destruction.
struct TempDir {
    char path[32] = "/tmp/zorvitest-XXXXXX";
    TempDir() { EXPECT_NE(mkdtemp(path), nullptr); }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string &name) const { return std::string(path) + "/" + name; }
};

inline void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Runs `body` and returns what it printed to standard output.
inline std::string capture_stdout(const std::function<void()> &body)
{
    testing::internal::CaptureStdout();
    body();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Runs `body` and returns the status it returned and what it printed to
// standard output, as "STATUS|PRINTED".
template <typename Body>
std::string status_and_output(const Body &body)
{
    std::string status;
    const std::string out = capture_stdout([&] { status = std::to_string(body()); });
    return status + "|" + out;
}

}  // namespace zorvitest
