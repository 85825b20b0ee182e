// Small helpers shared by the unit and end-to-end tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zorvitest {

// A scratch folder under /tmp, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void write_file(const std::string &path, const std::string &bytes);
std::string read_file(const std::string &path);

// Runs `body` and returns what it printed to standard output.
std::string capture_stdout(const std::function<void()> &body);

// CRC-32/POSIX computed bit by bit: an independent reference for the
// table-driven checksum of the tool and of the simulator.
uint32_t reference_crc32(const void *data, size_t length);

// What a load run prints up to and including its second prompt, when the
// user answers "yes".
std::string load_prompts(const std::string &file, const std::string &device = "zorvi0");

}  // namespace zorvitest
