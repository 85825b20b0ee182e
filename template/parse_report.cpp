#include "template/parse_report.h"

#include <cstdio>
#include <cstring>

#include "bounded/bounded.h"

int32_t format_load_message(const char *path, const ParseProblem *problem, char *text, size_t size)
{
    if (size == 0) {
        return STATUS_BAD_ARGUMENT;
    }
    int32_t written = STATUS_FAILED;
    switch (problem->kind) {
        case PROBLEM_PATH_TOO_LONG:
            written = sprintf_s(text, size, "Copy data failed!");
            break;
        case PROBLEM_UNREADABLE:
            written =
                sprintf_s(text, size, "Error happened when reading %s, %s", path, problem->key);
            break;
        case PROBLEM_OUT_OF_RANGE: {
            // The range line names the key without its PF number.
            const char *base = problem->key_index == NO_TABLE_KEY
                                   ? problem->key
                                   : TEMPLATE_KEYS[problem->key_index].name;
            written = sprintf_s(text, size, "%s %u out of range[ %u, %u]", base, problem->value, 0u,
                                problem->expected);
            break;
        }
        case PROBLEM_PCIDID_UNREADABLE:
        case PROBLEM_METADATA_UNREADABLE:
            written = sprintf_s(text, size, "Error happened when reading %s to get %s", path,
                                problem->key);
            break;
        case PROBLEM_PCIDID_MISMATCH:
            written =
                sprintf_s(text, size, "Error happened when reading %s, Incorrect PCIDID 0x%x.",
                          path, problem->expected);
            break;
        case PROBLEM_METADATA_MISMATCH:
            written =
                sprintf_s(text, size, "Error happened when reading %s, Incorrect METADATA.", path);
            break;
    }
    return written < 0 ? STATUS_BAD_ARGUMENT : 0;
}

int32_t meet_problem(const char *path, ParseReport *report, ProblemKind kind, size_t key_index,
                     uint32_t element, const char *key, uint32_t value, uint32_t expected,
                     int32_t status)
{
    ParseProblem problem{};
    problem.kind = kind;
    problem.key_index = static_cast<uint16_t>(key_index);
    problem.element = static_cast<uint8_t>(element);
    (void)strncpy_s(problem.key, sizeof(problem.key), key, strnlen(key, sizeof(problem.key) - 1));
    problem.value = value;
    problem.expected = expected;
    problem.status = status;
    if (report == nullptr) {
        char text[LOAD_MESSAGE_SIZE];
        if (format_load_message(path, &problem, text, sizeof(text)) == 0) {
            puts(text);
        }
        return status;
    }
    if (report->count < PARSE_PROBLEM_MAX) {
        report->problems[report->count++] = problem;
    }
    return 0;
}

bool report_has_errors_besides_metadata(const ParseReport *report)
{
    for (uint32_t i = 0; i < report->count; ++i) {
        const ProblemKind kind = report->problems[i].kind;
        if (kind != PROBLEM_METADATA_UNREADABLE && kind != PROBLEM_METADATA_MISMATCH) {
            return true;
        }
    }
    return false;
}
