// The load's parse as the tool shows it: the keys, then the card's answer to
// who it is, then the identity keys, each step's lines printed from what the
// parse or the card reports, in the order the reader and parser meet them.
#include "tool/load.h"

#include <cstdio>

#include "bounded/bounded.h"
#include "channel/card_queries.h"
#include "template/template_parser.h"
#include "tool/device_name.h"
#include "tool/open_failure.h"

namespace {

// What the reader says on its way to the answer of one lookup.
void print_lookup_lines(const IniWhere &where)
{
    switch (where.answer) {
        case INI_NO_FILE:
            puts("File isn't existed");
            break;
        case INI_NO_KEY:
        case INI_LONG_LINE:
            puts("keyname isn't existed");
            puts("Failed to get key value for the input key");
            break;
        case INI_FOUND:
            if (where.value_length >= INI_VALUE_SIZE) {
                puts("Copy data failed!");
            }
            break;
        case INI_UNASKED:
        case INI_NO_SECTION:
            break;
    }
}

// The lines of the walk: a text read as empty, then the problem that ended
// it. 0, or the status the load stops with.
int32_t print_report(const char *path, const ParseReport &report, bool texts)
{
    for (size_t row = 0; texts && row < TEMPLATE_KEY_COUNT; ++row) {
        const IniWhere &where = report.places[key_slot(row, 0)];
        if (TEMPLATE_KEYS[row].kind == KEY_TEXT && where.answer == INI_FOUND) {
            print_lookup_lines(where);
        }
    }
    if (report.count == 0) {
        return 0;
    }
    const ParseProblem &problem = report.problems[0];
    if (problem.kind == PROBLEM_UNREADABLE) {
        print_lookup_lines(problem.where);
        if (problem.where.answer == INI_FOUND) {
            printf("Sscanf_s unit pkeyvalue %s failed.\n", ini_value(problem.where));
        }
    }
    char text[LOAD_MESSAGE_SIZE];
    if (format_load_message(path, &problem, text, sizeof(text)) == 0) {
        puts(text);
    }
    return STATUS_FAILED;
}

}  // namespace

int32_t parse_template_file(const char *path, ResourceTemplate *record)
{
    ParseReport report;
    parse_template_keys(path, PARSE_TO_FIRST_PROBLEM, record, &report);
    int32_t status = print_report(path, report, true);
    if (status != 0) {
        return status;
    }
    // The lines of a card that could not say who it is.
    IdentityAnswer answer;
    status = query_card_identity(g_device_target, &answer);
    if (answer.step == IDENTITY_BAD_VERSION) {
        printf("Invalid driver version with (%s)\n", answer.version_text);
    } else if (status != 0) {
        print_open_failure(status);
        puts(answer.step == IDENTITY_PCI_ID_REQUEST ? "Get PCI device ID failed."
                                                    : "Get driver version failed.");
    }
    if (status != 0) {
        return status;
    }
    parse_identity_keys(path, PARSE_TO_FIRST_PROBLEM, &answer.card, record, &report);
    status = print_report(path, report, false);
    if (status == 0) {
        seal_template(record);
    }
    return status;
}
