// Any command line into the prefix of the operation-log records, and any
// status at any offset into the result word: the 1024-byte buffers hold, an
// argument or line that does not fit leaves no prefix, and a prefix that
// does is the bracketed line, cut only at the end of the buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "oplog/run_records.h"
#include "tests/fuzz/fuzz_file.h"

namespace {

constexpr size_t RECORD = 1024;
constexpr size_t ARGUMENT_ROOM = 511;  // "%s " of one argument

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "run record: %s\n", what);
        abort();
    }
}

// The command line joined by spaces, or nothing when an argument or the
// whole line does not fit its buffer.
bool model_line(const std::vector<std::string> &args, std::string *line)
{
    size_t used = 0;
    for (const std::string &arg : args) {
        size_t room = RECORD - 1 - used;
        if (arg.size() + 1 > (room < ARGUMENT_ROOM ? room : ARGUMENT_ROOM)) {
            return false;
        }
        used += arg.size() + 1;
        *line += arg + " ";
    }
    line->pop_back();
    return true;
}

std::string result_word(int32_t status)
{
    char text[64];
    switch (status) {
        case 0:
            return "[SUCCEED].";
        case STATUS_CANCELED:
            return "[CANCELED].";
        case STATUS_KILLED:
            return "[KILLED].";
        default:
            snprintf(text, sizeof(text), "[FAILED<%d>].", status);
            return text;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zorvifuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const int32_t status = input.ConsumeIntegral<int32_t>();
    const auto offset = input.ConsumeIntegralInRange<uint32_t>(0, RECORD + 8);
    std::vector<std::string> args;
    while (input.remaining_bytes() > 0 && args.size() < 64) {
        std::string arg = input.ConsumeRandomLengthString(700);
        args.push_back(arg.substr(0, arg.find('\0')));
    }
    if (args.empty()) {
        args.push_back("zorviconfig");
    }

    std::vector<const char *> argv;
    for (const std::string &arg : args) {
        argv.push_back(arg.c_str());
    }
    memset(g_input_buf, 'Z', sizeof(g_input_buf));
    record_user_input(static_cast<uint32_t>(argv.size()), argv.data());
    const size_t length = strnlen(g_input_buf, sizeof(g_input_buf));
    check(length < sizeof(g_input_buf), "prefix not terminated");
    std::string line;
    if (!model_line(args, &line)) {
        check(length == 0, "a command line that does not fit left a prefix");
    } else {
        const std::string prefix(g_input_buf, length);
        const size_t time_end = prefix.find("] [");
        check(prefix[0] == '[' && time_end != std::string::npos, "prefix without its time");
        const std::string rest = prefix.substr(time_end + 2);
        const std::string whole = "[" + line + "] ";
        check(rest == whole.substr(0, RECORD - 1 - (time_end + 2)), "prefix is not the line");
    }

    // The result word at any offset of a heap record of exactly 1024 bytes.
    auto record = std::make_unique<char[]>(RECORD);
    memset(record.get(), 'Z', RECORD);
    const int32_t written = set_cmd_result_string(status, record.get(), offset);
    const std::string word = result_word(status);
    if (offset >= RECORD) {
        check(written == -6, "offset past the record");
    } else if (word.size() <= RECORD - 1 - offset) {
        check(written == static_cast<int32_t>(word.size()) && record.get() + offset == word,
              "result word");
    } else {
        check(written == -1, "a result word that does not fit");
    }
    return 0;
}
