// sscanf_s with the program's own formats (%u, %x, %s with a size) checked
// against a model of the number and word rules, and with arbitrary formats
// whose arguments are worked out here first, so every pointer handed over is
// real and sized: the scan must stay inside them whatever the text says.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bounded/bounded.h"
#include "tests/fuzz/number_model.h"

namespace {

using zorvifuzz::is_scan_space;
using zorvifuzz::model_number;

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "scan: %s\n", what);
        abort();
    }
}

void check_number(const std::string &text, const char *format, unsigned base)
{
    zorvifuzz::ScanResult expected = model_number(text.c_str(), base);
    uint32_t value = 0xDEADBEEF;
    int32_t result = sscanf_s(text.c_str(), format, &value);
    check(result == expected.result, "number: result differs from the rules");
    if (result == 1) {
        check(value == expected.value, "number: value differs from the rules");
    } else {
        check(value == 0xDEADBEEF, "number: destination written on a failure");
    }
}

// Where the first word of `text` begins and ends (the same when there is none).
std::pair<size_t, size_t> first_word(const std::string &text)
{
    size_t start = 0;
    while (start < text.size() && is_scan_space(text[start])) {
        ++start;
    }
    size_t end = start;
    while (end < text.size() && !is_scan_space(text[end])) {
        ++end;
    }
    return {start, end};
}

// One word into `size` bytes: longer than size - 1 empties the destination.
void check_word(const std::string &input, uint32_t size)
{
    const std::string text = input.substr(0, input.find('\0'));  // as a C string
    const bool valid = size != 0 && size <= BOUNDED_MAX_LEN;
    auto dest = std::make_unique<char[]>(valid ? size : 1);
    dest[0] = 'Z';
    const int32_t result = sscanf_s(input.c_str(), "%s", dest.get(), size);
    const auto [start, end] = first_word(text);
    if (text.empty()) {
        check(result == -1 && (size == 0 || dest[0] == '\0'), "word: empty text");
    } else if (!valid) {
        check(result == 0 && dest[0] == 'Z', "word: refused size");
    } else if (start == end) {
        check(result == -1, "word: blank text");
    } else if (end - start < size) {
        check(result == 1 && dest.get() == text.substr(start, end - start), "word: copy");
    } else {
        check(result == 0 && dest[0] == '\0', "word: too long");
    }
}

// scanf_s("%s") on standard input into 512 bytes, as the confirmation
// prompts read their answers: the first word (as a C string: up to a NUL
// inside it), with the character after it left unread; a word longer than
// 511 bytes empties the buffer and leaves the rest of itself from byte 511 on.
void check_stdin_word(const std::string &input)
{
    FILE *file = tmpfile();
    check(file != nullptr && fwrite(input.data(), 1, input.size(), file) == input.size(),
          "stdin: no scratch file");
    rewind(file);
    FILE *const saved = stdin;
    stdin = file;
    auto word = std::make_unique<char[]>(512);
    const int32_t result = scanf_s("%s", word.get(), 512u);
    const int next = fgetc(stdin);
    stdin = saved;
    fclose(file);

    const auto [start, end] = first_word(input);
    auto byte_at = [&](size_t at) {
        return at < input.size() ? static_cast<uint8_t>(input[at]) : EOF;
    };
    const std::string expected = input.substr(start, end - start);
    if (start == end) {
        check(result == -1 && next == EOF, "stdin: no word");
    } else if (end - start > 511) {
        check(result == 0 && word[0] == '\0' && next == byte_at(start + 511), "stdin: too long");
    } else {
        check(result == 1 && word.get() == expected.substr(0, expected.find('\0')) &&
                  next == byte_at(end),
              "stdin: word");
    }
}

// A destination worked out from the format: `size` bytes for an integer
// (its width) or a text field (its size argument).
struct Dest {
    bool text;
    uint32_t size_arg;
    std::unique_ptr<uint8_t[]> memory;
};

constexpr size_t MAX_DESTS = 6;

// Returns the destinations the format consumes, in order, or nothing when
// the format holds anything whose argument use is not certain.
std::optional<std::vector<Dest>> plan_arguments(const std::string &format,
                                                FuzzedDataProvider &input)
{
    std::vector<Dest> dests;
    const char *f = format.c_str();
    while (*f != '\0') {
        if (*f++ != '%') {
            continue;
        }
        bool suppress = *f == '*';
        if (suppress) {
            ++f;
        }
        size_t width = 0;
        while (*f >= '0' && *f <= '9') {
            width = width * 10 + static_cast<size_t>(*f++ - '0');
            if (width > 1000) {
                return std::nullopt;
            }
        }
        size_t bytes = 4;
        if (f[0] == 'h' && f[1] == 'h') {
            bytes = 1, f += 2;
        } else if (f[0] == 'h') {
            bytes = 2, f += 1;
        } else if (f[0] == 'l' && f[1] == 'l') {
            bytes = 8, f += 2;
        } else if (f[0] == 'l' || f[0] == 'j' || f[0] == 'z' || f[0] == 't') {
            bytes = 8, f += 1;
        }
        char kind = *f;
        if (kind == '\0') {
            return std::nullopt;
        }
        ++f;
        if (kind == '%') {
            continue;
        }
        bool text = kind == 's' || kind == 'c' || kind == '[';
        if (kind == '[') {
            if (*f == '^') {
                ++f;
            }
            if (*f == ']') {
                ++f;
            }
            f = strchr(f, ']');
            if (f == nullptr) {
                return std::nullopt;
            }
            ++f;
        } else if (!text && strchr("diuoxXpn", kind) == nullptr) {
            return std::nullopt;
        }
        if (text && bytes != 4) {
            return std::nullopt;  // wide characters: not this program's business
        }
        if (suppress) {
            continue;
        }
        if (dests.size() == MAX_DESTS) {
            return std::nullopt;
        }
        Dest dest{text, 0, nullptr};
        size_t allocated = kind == 'p' ? sizeof(void *) : bytes;
        if (text) {
            // A real size, 0, or one the scan must refuse without writing.
            uint8_t pick = input.ConsumeIntegral<uint8_t>();
            dest.size_arg = pick == 255 ? 0xFFFFFFFFu : pick == 254 ? 0x80000000u : pick % 48;
            allocated = dest.size_arg == 0 || dest.size_arg > BOUNDED_MAX_LEN ? 1 : dest.size_arg;
        }
        dest.memory = std::make_unique<uint8_t[]>(allocated);
        dests.push_back(std::move(dest));
    }
    return dests;
}

// Calls sscanf_s with exactly the arguments the plan lists, each with its
// own type: a pointer, and for text fields the size as unsigned int.
template <size_t Left, typename... Args>
int32_t scan_with_plan(const char *text, const char *format, const std::vector<Dest> &dests,
                       size_t i, Args... args)
{
    if (i == dests.size()) {
        return sscanf_s(text, format, args...);
    }
    if constexpr (Left == 0) {
        abort();
    } else {
        const Dest &dest = dests[i];
        if (dest.text) {
            return scan_with_plan<Left - 1>(text, format, dests, i + 1, args...,
                                            reinterpret_cast<char *>(dest.memory.get()),
                                            static_cast<unsigned int>(dest.size_arg));
        }
        return scan_with_plan<Left - 1>(text, format, dests, i + 1, args...,
                                        static_cast<void *>(dest.memory.get()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegralInRange<int>(0, 4)) {
        case 0:
            check_number(input.ConsumeRemainingBytesAsString(), "%u", 10);
            break;
        case 1:
            check_number(input.ConsumeRemainingBytesAsString(), "%x", 16);
            break;
        case 2: {
            uint16_t pick = input.ConsumeIntegral<uint16_t>();
            uint32_t word_size = pick == 0xFFFF ? 0x80000000u : pick % 600;
            check_word(input.ConsumeRemainingBytesAsString(), word_size);
            break;
        }
        case 4:
            check_stdin_word(input.ConsumeRemainingBytesAsString());
            break;
        default: {
            std::string format = input.ConsumeRandomLengthString(64);
            auto dests = plan_arguments(format, input);
            if (!dests) {
                break;
            }
            std::string text = input.ConsumeRemainingBytesAsString();
            int32_t result = scan_with_plan<MAX_DESTS>(text.c_str(), format.c_str(), *dests, 0);
            check(result >= -1 && result <= static_cast<int32_t>(dests->size()),
                  "more fields assigned than destinations");
            break;
        }
    }
    return 0;
}
