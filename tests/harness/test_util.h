// Small helpers shared by the unit and end-to-end tests.
#pragma once

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

}  // namespace zorvitest
