#include "tool/confirm.h"

#include <cstdio>

#include "bounded/bounded.h"
#include "tool/usage.h"

namespace {

constexpr uint32_t ANSWER_SIZE = 512;

constexpr const char *WARNING_BANNER[] = {
    "################################################################################",
    "# WARNING! This operation will modify the default configuration. The config    #",
    "# file must be confirmed by Kx3310 manufacturer. DO NOT modify it without      #",
    "# permission. Otherwise, it may cause unrecoverable consequences.              #",
    "################################################################################",
};

// Reads one word; -1 at end of input. An over-long word leaves the buffer
// empty, which no answer matches.
int32_t read_answer(char (&answer)[ANSWER_SIZE])
{
    answer[0] = '\0';
    // The prompt must be on screen (or in the pipe) before we wait.
    fflush(stdout);
    return scanf_s("%s", answer, ANSWER_SIZE) == STATUS_FAILED ? STATUS_FAILED : 0;
}

}  // namespace

int32_t confirm_operation()
{
    char answer[ANSWER_SIZE] = {};

    puts("\nEnter [yes] to continue:");
    if (read_answer(answer) != 0) {
        puts("Input string(yes) failed.");
        return STATUS_FAILED;
    }
    if (!str_equal(answer, "yes")) {
        return STATUS_FAILED;
    }

    for (const char *line : WARNING_BANNER) {
        puts(line);
    }
    puts("Enter [agree] to continue:");
    if (read_answer(answer) != 0) {
        puts("Input string(agree) failed.");
        return STATUS_FAILED;
    }
    return str_equal(answer, "agree") ? 0 : -1;
}
