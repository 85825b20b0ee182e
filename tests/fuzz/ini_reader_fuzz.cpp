// Any bytes as a template file: every lookup must stay inside its buffers,
// close its file, and give the answer of a model of the file syntax written
// here line by line from the reader's rules.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fileaccess/ini_reader.h"
#include "tests/fuzz/fuzz_file.h"
#include "tests/fuzz/number_model.h"

namespace {

struct Lookup {
    const char *section;
    const char *key;
};

constexpr Lookup LOOKUPS[] = {
    {"INFO", "VERSION"}, {"INFO", "MODENAME"}, {"INFO", "METADATA"}, {"INFO", "PCIDID"},
    {"CONFIG", "HN"},    {"CONFIG", "PH"},     {"CONFIG", "QNP00"},  {"CONFIG", "O256QVN15"},
    {"", ""},
};

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "ini reader: %s\n", what);
        abort();
    }
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// A found value: terminated within its 32 bytes, no line end, no "//", and
// no blanks at either end.
void check_value(const char *value)
{
    size_t length = strnlen(value, INI_VALUE_SIZE);
    check(length < INI_VALUE_SIZE, "value not terminated within 32 bytes");
    check(memchr(value, '\n', length) == nullptr && memchr(value, '\r', length) == nullptr,
          "line end inside a value");
    check(strstr(value, "//") == nullptr, "comment inside a value");
    if (length > 0) {
        check(!is_blank(value[0]) && !is_blank(value[length - 1]), "value not trimmed");
    }
}


// The file as fgets hands it over with a 512-byte buffer: pieces of at most
// 511 bytes, each ending after a line feed or where the room ran out; each
// piece is then a C string, cut at its first NUL.
std::vector<std::string> read_lines(const uint8_t *data, size_t size)
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

bool is_line_end(char c)
{
    return c == '\0' || c == '\n' || c == '\r';
}

size_t skip_blanks(const std::string &line, size_t at)
{
    while (at < line.size() && is_blank(line[at])) {
        ++at;
    }
    return at;
}

char at_or_nul(const std::string &line, size_t at)
{
    return at < line.size() ? line[at] : '\0';
}

bool starts_comment_or_end(const std::string &line, size_t at)
{
    char c = at_or_nul(line, at);
    return is_line_end(c) || c == '#' || (c == '/' && at_or_nul(line, at + 1) == '/');
}

bool is_header_of(const std::string &line, const std::string &section)
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
std::optional<std::string> model_lookup(const std::vector<std::string> &lines,
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

zorvifuzz::ScanResult model_number_value(const std::string &value)
{
    size_t at = skip_blanks(value, 0);
    if (at_or_nul(value, at) == '0' &&
        (at_or_nul(value, at + 1) == 'x' || at_or_nul(value, at + 1) == 'X')) {
        std::string digits = value.substr(at + 2);
        return digits.empty() ? zorvifuzz::ScanResult{-1, 0}
                              : zorvifuzz::model_number(digits.c_str(), 16);
    }
    return value.empty() ? zorvifuzz::ScanResult{-1, 0}
                         : zorvifuzz::model_number(value.c_str(), 10);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zorvifuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *path = zorvifuzz::write_scratch_file(data, size);
    // Exactly the documented sizes on the heap, so a byte past them is caught.
    auto value = std::make_unique<char[]>(INI_VALUE_SIZE);
    auto text = std::make_unique<char[]>(INI_VALUE_SIZE);
    const std::vector<std::string> lines = read_lines(data, size);
    for (const Lookup &lookup : LOOKUPS) {
        const std::optional<std::string> expected =
            model_lookup(lines, lookup.section, lookup.key);
        memset(value.get(), 0x5A, INI_VALUE_SIZE);
        int32_t found = get_key_value(path, lookup.section, lookup.key, value.get());
        check(found == (expected ? 0 : -1), "get_key_value status differs from the model");
        if (found == 0) {
            check_value(value.get());
            check(*expected == value.get(), "value differs from the model");
        }

        uint32_t number = 0;
        int32_t converted = get_uint_key_value(path, lookup.section, lookup.key, &number);
        zorvifuzz::ScanResult scan = expected ? model_number_value(*expected)
                                              : zorvifuzz::ScanResult{-1, 0};
        check(converted == (scan.result == 1 ? 0 : -1), "number status differs from the model");
        check(converted != 0 || number == scan.value, "number differs from the model");

        memset(text.get(), 0x5A, INI_VALUE_SIZE);
        int32_t copied = get_string_key_value(path, lookup.section, lookup.key, text.get());
        check(copied == (expected ? 0 : -1), "string status differs from the model");
        if (copied == 0) {
            check(*expected == text.get(), "string differs from the model");
        }
    }
    return 0;
}
