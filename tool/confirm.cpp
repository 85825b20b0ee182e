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

// Reads one word: 0 when it is `wanted`, else -1, after a line when the
// input ended. An over-long word leaves the buffer empty, which no answer
// matches.
int32_t read_answer(char (&answer)[ANSWER_SIZE], const char *wanted)
{
    answer[0] = '\0';
    // The prompt must be on screen (or in the pipe) before we wait.
    fflush(stdout);
    if (scanf_s("%s", answer, ANSWER_SIZE) == STATUS_FAILED) {
        printf("Input string(%s) failed.\n", wanted);
        return STATUS_FAILED;
    }
    return str_equal(answer, wanted) ? 0 : STATUS_FAILED;
}

}  // namespace

int32_t confirm_operation()
{
    char answer[ANSWER_SIZE] = {};

    puts("\nEnter [yes] to continue:");
    if (read_answer(answer, "yes") != 0) {
        return STATUS_FAILED;
    }
    for (const char *line : WARNING_BANNER) {
        puts(line);
    }
    puts("Enter [agree] to continue:");
    return read_answer(answer, "agree");
}
