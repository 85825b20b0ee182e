#include "tests/harness/test_util.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zorvitest {

TempDir::TempDir()
{
    char pattern[] = "/tmp/zorvitest-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string capture_stdout(const std::function<void()> &body)
{
    testing::internal::CaptureStdout();
    body();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

uint32_t reference_crc32(const void *data, size_t length)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    uint32_t reg = 0;
    for (size_t i = 0; i < length; ++i) {
        reg ^= static_cast<uint32_t>(bytes[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x80000000u) ? (reg << 1) ^ 0x04C11DB7u : reg << 1;
        }
    }
    return ~reg;
}

std::string load_prompts(const std::string &file, const std::string &device)
{
    return "\nTemplate " + file + " will be configured to device " + device +
           "\n"
           "\nEnter [yes] to continue:\n"
           "################################################################################\n"
           "# WARNING! This operation will modify the default configuration. The config    #\n"
           "# file must be confirmed by Kx3310 manufacturer. DO NOT modify it without      #\n"
           "# permission. Otherwise, it may cause unrecoverable consequences.              #\n"
           "################################################################################\n"
           "Enter [agree] to continue:\n";
}

}  // namespace zorvitest
