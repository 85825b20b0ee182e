// The INI reader, rule by rule from the case table in ini_cases.txt: each
// case is a file, a lookup, its answer and the value a load takes.
#include "fileaccess/ini_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "tests/harness/test_util.h"
#include "tests/template/case_text.h"

namespace {

const char *const ANSWERS[] = {"unasked", "found", "no-file", "no-section", "no-key", "long-line"};

struct Lookup {
    std::string kind = "uint";
    std::string section = "CONFIG";
    std::string key = "HN";
};

// Runs one lookup; returns its answer and sets the value a load takes.
std::string look_up(const std::string &path, const Lookup &lookup, std::string *value)
{
    IniWhere where;
    memset(&where, 'Z', sizeof(where));
    const int32_t status =
        lookup_ini_key(path.c_str(), lookup.section.c_str(), lookup.key.c_str(), &where);
    EXPECT_EQ(status == 0, where.answer == INI_FOUND);
    uint32_t number = 0;
    *value = status != 0                                          ? "-"
             : lookup.kind == "string"                            ? ini_value(where)
             : convert_uint_value(ini_value(where), &number) != 0 ? "NaN"
                                                                  : std::to_string(number);
    return ANSWERS[where.answer];
}

auto open_descriptors()
{
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// Every answer of the table, each lookup closing its file.
TEST(IniReader, EveryCaseOfTheTable)
{
    const zorvitest::TempDir dir;
    Lookup lookup;
    const int descriptors = open_descriptors();
    zorvitest::each_row(ZORVI_INI_CASES, [&](const std::vector<std::string> &words) {
        if (words[0] == "lookup") {
            lookup = {words.at(1), words.at(2), words.at(3)};
            return;
        }
        ASSERT_GE(words.size(), 3u);
        const std::string path = dir.file("t.ini");
        zorvitest::write_file(path, words[0]);
        std::string value;
        EXPECT_EQ(look_up(path, lookup, &value), words[1]);
        EXPECT_EQ(value, words[2]);
    });
    EXPECT_EQ(open_descriptors(), descriptors);
}

// An IniWhere in the words of where_cases.txt.
std::string shown(const IniWhere &where)
{
    std::string out = std::string(ANSWERS[where.answer]) + " " + std::to_string(where.line) + " " +
                      std::to_string(where.section_line);
    if (where.answer == INI_FOUND) {
        out += " at=" + std::to_string(where.value_start) + " value=" + where.value;
        if (where.value_length != strlen(where.value)) {
            out += " length=" + std::to_string(where.value_length);
        }
    }
    return out + (where.ended_by_bracket ? " bracket" : "");
}

TEST(IniReader, WhereEveryCaseOfTheTable)
{
    const zorvitest::TempDir dir;
    const std::string path = dir.file("t.ini");
    zorvitest::each_row(ZORVI_WHERE_CASES, [&](const std::vector<std::string> &words) {
        ASSERT_GE(words.size(), 6u);
        zorvitest::write_file(path, words[0]);
        IniWhere where{};
        const int32_t status =
            lookup_ini_key(path.c_str(), words[1].c_str(), words[2].c_str(), &where);
        EXPECT_EQ(status == 0, words[3] == "found");
        std::string wanted = words[3];
        for (size_t w = 4; w < words.size(); ++w) {
            wanted += " " + words[w];
        }
        EXPECT_EQ(shown(where), wanted);
    });
}

}  // namespace
