#include "template/parse_report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bounded/bounded.h"

int32_t format_load_message(const char *path, const ParseProblem *problem, char *text, size_t size)
{
    if (problem->kind == PROBLEM_PATH_TOO_LONG) {
        return sprintf_s(text, size, "Copy data failed!") < 0 ? STATUS_BAD_ARGUMENT : 0;
    }
    const TemplateKey &key = TEMPLATE_KEYS[problem->row];
    const char *name = key_name(key_slot(problem->row, problem->element));
    const bool identity = key.kind == KEY_CARD_ID || key.kind == KEY_CHECKSUM;
    int32_t written = STATUS_FAILED;
    if (problem->kind == PROBLEM_UNREADABLE) {
        written =
            identity ? sprintf_s(text, size, "Error happened when reading %s to get %s", path, name)
                     : sprintf_s(text, size, "Error happened when reading %s, %s", path, name);
    } else if (problem->kind == PROBLEM_OUT_OF_RANGE) {
        // The range line names the key without its PF number.
        written = sprintf_s(text, size, "%s %u out of range[ %u, %u]", key.name, problem->value, 0u,
                            problem->expected);
    } else if (key.kind == KEY_CARD_ID) {  // a mismatch
        written = sprintf_s(text, size, "Error happened when reading %s, Incorrect PCIDID 0x%x.",
                            path, problem->expected);
    } else {
        written =
            sprintf_s(text, size, "Error happened when reading %s, Incorrect METADATA.", path);
    }
    return written < 0 ? STATUS_BAD_ARGUMENT : 0;
}

bool report_has_errors_besides_metadata(const ParseReport *report)
{
    return std::any_of(
        report->problems, report->problems + report->count, [](const ParseProblem &problem) {
            return problem.row == NO_KEY_ROW || TEMPLATE_KEYS[problem.row].kind != KEY_CHECKSUM;
        });
}
