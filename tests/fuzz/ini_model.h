// A model of the INI reader written from its rules, line by line, for the
// fuzz targets to predict what a lookup must answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fileaccess/ini_reader.h"
#include "tests/fuzz/number_model.h"
#include "tests/harness/test_util.h"

namespace zorvifuzz {

inline bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// The file as fgets hands it over with a 512-byte buffer: pieces of at most
// 511 bytes, each ending after a line feed or where the room ran out; each
// piece is then a C string, cut at its first NUL.
inline std::vector<std::string> read_lines(const uint8_t *data, size_t size)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < size) {
        size_t end = at;
        while (end < size && end - at < INI_LINE_SIZE - 1) {
            if (data[end++] == '\n') {
                break;
            }
        }
        std::string piece(reinterpret_cast<const char *>(data) + at, end - at);
        lines.push_back(piece.substr(0, piece.find('\0')));
        at = end;
    }
    return lines;
}

inline bool is_line_end(char c)
{
    return c == '\0' || c == '\n' || c == '\r';
}

inline size_t skip_blanks(const std::string &line, size_t at)
{
    while (at < line.size() && is_blank(line[at])) {
        ++at;
    }
    return at;
}

inline char at_or_nul(const std::string &line, size_t at)
{
    return at < line.size() ? line[at] : '\0';
}

inline bool starts_comment_or_end(const std::string &line, size_t at)
{
    char c = at_or_nul(line, at);
    return is_line_end(c) || c == '#' || (c == '/' && at_or_nul(line, at + 1) == '/');
}

inline bool is_header_of(const std::string &line, const std::string &section)
{
    size_t at = skip_blanks(line, 0);
    if (starts_comment_or_end(line, at) || line[at] != '[') {
        return false;
    }
    size_t name = skip_blanks(line, at + 1);
    size_t close = line.find(']', name);
    if (close == std::string::npos) {
        return false;
    }
    // Blanks before the ']' do not count: "[ CONFIG ]" opens CONFIG.
    size_t end = close;
    while (end > name && is_blank(line[end - 1])) {
        --end;
    }
    return line.compare(name, end - name, section) == 0 && end - name == section.size();
}

// The value text get_key_value hands back, or nothing when the key is not
// found. A value of 32 characters or more is found, but empty.
inline std::optional<std::string> model_lookup(const std::vector<std::string> &lines,
                                               const std::string &section, const std::string &key)
{
    size_t i = 0;
    while (i < lines.size() && !is_header_of(lines[i], section)) {
        ++i;
    }
    if (i == lines.size()) {
        return std::nullopt;
    }
    for (++i; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        size_t at = skip_blanks(line, 0);
        if (starts_comment_or_end(line, at)) {
            continue;
        }
        if (line[at] == '[') {
            break;
        }
        size_t equals = line.find('=', at);
        if (equals == std::string::npos || equals == at) {
            continue;
        }
        size_t key_end = equals;
        while (key_end > at && is_blank(line[key_end - 1])) {
            --key_end;
        }
        if (line.compare(at, key_end - at, key) != 0 || key_end - at != key.size()) {
            continue;
        }
        size_t start = skip_blanks(line, equals + 1);
        size_t end = start;
        while (!is_line_end(at_or_nul(line, end)) &&
               !(line[end] == '/' && at_or_nul(line, end + 1) == '/')) {
            ++end;
        }
        while (end > start && is_blank(line[end - 1])) {
            --end;
        }
        std::string value = line.substr(start, end - start);
        return value.size() < INI_VALUE_SIZE ? value : std::string();
    }
    return std::nullopt;
}

inline ScanResult model_number_value(const std::string &value)
{
    size_t at = skip_blanks(value, 0);
    if (at_or_nul(value, at) == '0' &&
        (at_or_nul(value, at + 1) == 'x' || at_or_nul(value, at + 1) == 'X')) {
        std::string digits = value.substr(at + 2);
        return digits.empty() ? ScanResult{-1, 0} : model_number(digits.c_str(), 16);
    }
    return value.empty() ? ScanResult{-1, 0} : model_number(value.c_str(), 10);
}

// The input goes to a private file that the code under test opens by path,
// as it opens a template file.
inline const char *write_scratch_file(const uint8_t *data, size_t size)
{
    static const zorvitest::TempDir dir;
    static const std::string path = dir.file("input.ini");
    zorvitest::write_file(path, std::string(reinterpret_cast<const char *>(data), size));
    return path.c_str();
}

}  // namespace zorvifuzz
