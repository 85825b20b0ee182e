// Any standard input at the two confirmation prompts: the answer buffer
// holds, and only the words yes and then agree let a load go on.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/fuzz_file.h"
#include "tests/fuzz/number_model.h"
#include "tool/front_end.h"

namespace {

constexpr size_t LONGEST_ANSWER = 511;

// The next word as the tool sees it (cut at a NUL byte, as a C string is),
// or nothing at the end of the input.
bool next_word(const uint8_t *data, size_t size, size_t *at, std::string *word)
{
    while (*at < size && zorvifuzz::is_scan_space(static_cast<char>(data[*at]))) {
        ++*at;
    }
    if (*at == size) {
        return false;
    }
    size_t start = *at;
    while (*at < size && !zorvifuzz::is_scan_space(static_cast<char>(data[*at]))) {
        ++*at;
    }
    std::string text(reinterpret_cast<const char *>(data) + start, *at - start);
    // A word too long for the buffer leaves it empty.
    *word = text.size() > LONGEST_ANSWER ? std::string() : text.substr(0, text.find('\0'));
    if (text.size() > LONGEST_ANSWER) {
        *at = start + LONGEST_ANSWER;  // the rest of it stays unread
    }
    return true;
}

int32_t expected_answer(const uint8_t *data, size_t size)
{
    size_t at = 0;
    std::string word;
    if (!next_word(data, size, &at, &word) || word != "yes") {
        return -1;
    }
    if (!next_word(data, size, &at, &word) || word != "agree") {
        return -1;
    }
    return 0;
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
    if (freopen(path, "r", stdin) == nullptr) {
        abort();
    }
    int32_t status = confirm_operation();
    if (status != expected_answer(data, size)) {
        fprintf(stderr, "confirm: status %d, expected %d\n", status, expected_answer(data, size));
        abort();
    }
    return 0;
}
