// The INI reader, rule by rule from the case table in ini_cases.txt: each
// case is a file, a lookup, its answer and the value a load takes.
#include "fileaccess/ini_reader.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
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

TEST(IniReader, EveryCaseOfTheTable)
{
    const zorvitest::TempDir dir;
    const std::string table = std::string(ZORVI_INI_CASES);
    std::string group;
    Lookup lookup;
    int cases = 0;
    for (const zorvitest::CaseLine &line : zorvitest::case_table(table)) {
        const std::vector<std::string> &words = line.words;
        if (line.group != group) {
            group = line.group;
            lookup = {};
        }
        if (words[0] == "lookup") {
            lookup = {words.at(1), words.at(2), words.at(3)};
            continue;
        }
        SCOPED_TRACE(zorvitest::trace(table, line));
        ASSERT_GE(words.size(), 3u);
        std::string path = dir.file("t.ini");
        unlink(path.c_str());
        if (words[0] == "FOLDER") {
            path = dir.path();
        } else if (words[0] == "ZERO") {
            ASSERT_EQ(symlink("/dev/zero", path.c_str()), 0);
        } else if (words[0] == "FIFO") {
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        } else if (words[0] != "NOFILE") {
            zorvitest::write_file(path, words[0]);
        }
        std::string value;
        EXPECT_EQ(look_up(path, lookup, &value), words[1]);
        EXPECT_EQ(value, words[2]);
        ++cases;
    }
    EXPECT_EQ(cases, 81);  // a line the runner skips would go unseen
}

TEST(IniReader, WhereEveryCaseOfTheTable)
{
    const zorvitest::TempDir dir;
    const std::string path = dir.file("t.ini");
    const std::string table = std::string(ZORVI_WHERE_CASES);
    int cases = 0;
    for (const zorvitest::CaseLine &line : zorvitest::case_table(table)) {
        const std::vector<std::string> &words = line.words;
        SCOPED_TRACE(zorvitest::trace(table, line));
        ASSERT_GE(words.size(), 6u);
        zorvitest::write_file(path, words[0]);
        IniWhere where{};
        const int32_t status =
            lookup_ini_key(path.c_str(), words[1].c_str(), words[2].c_str(), &where);
        EXPECT_EQ(ANSWERS[where.answer], words[3]);
        EXPECT_EQ(status == 0, words[3] == "found");
        EXPECT_EQ(where.line, std::stoul(words[4]));
        EXPECT_EQ(where.section_line, std::stoul(words[5]));
        std::string shown = "bracket=" + std::to_string(where.ended_by_bracket);
        std::string wanted = "bracket=0";
        for (size_t w = 6; w < words.size(); ++w) {
            const std::string &word = words[w];
            const std::string name = word.substr(0, word.find('='));
            const std::string rest =
                word.find('=') == std::string::npos ? "" : word.substr(word.find('=') + 1);
            if (name == "bracket") {
                wanted = "bracket=1";
            } else if (name == "at") {
                EXPECT_EQ(where.value_start, std::stoull(rest));
            } else if (name == "value") {
                EXPECT_EQ(std::string(where.value), rest);
                if (std::find_if(words.begin(), words.end(), [](const std::string &x) {
                        return x.rfind("length=", 0) == 0;
                    }) == words.end()) {
                    EXPECT_EQ(where.value_length, rest.size());
                }
            } else if (name == "length") {
                EXPECT_EQ(where.value_length, std::stoul(rest));
            } else if (name == "end") {
                EXPECT_EQ(where.section_end, std::stoull(rest));
                const bool feed = std::find(words.begin(), words.end(), "nofeed") == words.end();
                EXPECT_EQ(where.section_end_feed, feed);
                const bool crlf = std::find(words.begin(), words.end(), "crlf") != words.end();
                EXPECT_EQ(where.section_crlf, crlf);
            } else if (name != "nofeed" && name != "crlf") {
                ADD_FAILURE() << "unknown word " << word;
            }
        }
        EXPECT_EQ(shown, wanted);
        ++cases;
    }
    EXPECT_EQ(cases, 14);
}

int open_descriptors()
{
    int count = 0;
    DIR *fds = opendir("/proc/self/fd");
    while (readdir(fds) != nullptr) {
        ++count;
    }
    closedir(fds);
    return count;
}

TEST(IniReader, EveryLookupClosesTheFile)
{
    const zorvitest::TempDir dir;
    const std::string path = dir.file("t.ini");
    zorvitest::write_file(path,
                          "[CONFIG]\nHN=1\nPN=x\n[INFO]\nMODENAME=" + std::string(40, 'm') + "\n");
    const int before = open_descriptors();
    for (int i = 0; i < 50; ++i) {
        std::string value;
        // Found, not a number, no such key, no such section, too long.
        for (const Lookup &lookup :
             {Lookup{}, Lookup{"uint", "CONFIG", "PN"}, Lookup{"uint", "CONFIG", "QN"},
              Lookup{"uint", "NOPE", "HN"}, Lookup{"string", "INFO", "MODENAME"}}) {
            look_up(path, lookup, &value);
        }
    }
    EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
