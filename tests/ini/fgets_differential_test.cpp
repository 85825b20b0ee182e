// The reader's lines against glibc's fgets with a 512-byte buffer, on files
// joined at random from the pieces in fgets_pieces.txt: the same lines in
// the same order, and the same lookup results as on a copy of the file
// written from what fgets stored, each line as the C string it holds; and
// a found value stands where the lookup says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fileaccess/ini_reader.h"
#include "tests/harness/test_util.h"
#include "tests/template/case_text.h"

namespace {

struct Pieces {
    // A text, or "" and N for 1 to N random bytes.
    std::vector<std::pair<std::string, size_t>> texts;
    std::vector<std::vector<std::string>> lookups;
};

Pieces read_pieces()
{
    Pieces pieces;
    for (zorvitest::CaseLine &line : zorvitest::case_table(ZORVI_FGETS_PIECES)) {
        std::string &text = line.words[0];
        std::replace(text.begin(), text.end(), '`', '\0');
        if (text == "lookup") {
            pieces.lookups.push_back(line.words);
        } else {
            const bool random = text == "random";
            pieces.texts.emplace_back(random ? "" : text, random ? std::stoul(line.words[1]) : 0);
        }
    }
    return pieces;
}

std::string make_file(const Pieces &pieces, std::mt19937 &rng)
{
    std::string file;
    for (size_t count = rng() % 40; count > 0; --count) {
        if (rng() % 6 == 0 && file.size() < INI_READ_SIZE) {
            const size_t to = INI_READ_SIZE - rng() % 24;
            while (file.size() < to) {
                const size_t length = std::min<size_t>(to - file.size(), 80);
                file += length == 1 ? "\n" : "#" + std::string(length - 2, 'p') + "\n";
            }
        }
        const auto &[text, random_most] = pieces.texts[rng() % pieces.texts.size()];
        file += text;
        for (size_t n = random_most > 0 ? 1 + rng() % random_most : 0; n > 0; --n) {
            file += static_cast<char>(rng());
        }
    }
    return file;
}

std::vector<std::string> fgets_lines(const std::string &path)
{
    std::vector<std::string> lines;
    FILE *file = fopen(path.c_str(), "r");
    char buffer[INI_LINE_SIZE];
    for (long at = ftell(file); fgets(buffer, sizeof(buffer), file) != nullptr; at = ftell(file)) {
        lines.emplace_back(buffer, static_cast<size_t>(ftell(file) - at));
    }
    fclose(file);
    return lines;
}

std::vector<std::string> reader_lines(const std::string &path)
{
    std::vector<std::string> lines;
    auto reader = std::make_unique<IniLines>();
    EXPECT_EQ(open_ini_lines(path.c_str(), reader.get()), 0);
    char *line = nullptr;
    size_t length = 0;
    while (next_ini_line(reader.get(), &line, &length) == 0) {
        // Every scan of a line must end with it: at its feed or at a NUL after it.
        EXPECT_TRUE(line[length - 1] == '\n' || line[length] == '\0') << lines.size();
        lines.emplace_back(line, length);
    }
    close_ini_lines(reader.get());
    return lines;
}

// The answer and the value a load takes; where it stood goes to `where`.
std::string look_up(const std::string &path, const std::vector<std::string> &lookup,
                    IniWhere *where)
{
    lookup_ini_key(path.c_str(), lookup[1].c_str(), lookup[2].c_str(), where);
    // The copy has no long lines: a key hidden in one is simply not there.
    const IniAnswer answer = where->answer == INI_LONG_LINE ? INI_NO_KEY : where->answer;
    return std::to_string(answer) + " [" + ini_value(*where) + "]";
}

TEST(IniReader, CutsLinesAsFgetsDoes)
{
    const Pieces pieces = read_pieces();
    const zorvitest::TempDir dir;
    const std::string path = dir.file("t.ini"), plain = dir.file("plain.ini");
    std::mt19937 rng(12);
    size_t over_buffer = 0, unfinished = 0, found = 0;
    for (int n = 0; n < 200; ++n) {
        const std::string file = make_file(pieces, rng);
        zorvitest::write_file(path, file);
        over_buffer += file.size() > INI_READ_SIZE;
        unfinished += !file.empty() && file.back() != '\n';
        const std::vector<std::string> lines = fgets_lines(path);
        ASSERT_EQ(reader_lines(path), lines) << "file " << n;
        std::string rewritten;
        for (const std::string &line : lines) {
            const std::string text = line.c_str();
            rewritten += text.empty() || text.back() != '\n' ? text + "\n" : text;
        }
        zorvitest::write_file(plain, rewritten);
        for (const std::vector<std::string> &lookup : pieces.lookups) {
            IniWhere where{}, plain_where{};
            const std::string answer = look_up(path, lookup, &where);
            EXPECT_EQ(answer, look_up(plain, lookup, &plain_where)) << "file " << n;
            SCOPED_TRACE("file " + std::to_string(n) + ", " + lookup[2]);
            if (where.answer != INI_FOUND) {
                continue;
            }
            // A found value stands in the file at the place and on the line it names.
            ASSERT_LE(where.value_start + where.value_length, file.size());
            EXPECT_EQ(file.substr(where.value_start, std::min<size_t>(where.value_length, 31)),
                      std::string(where.value));
            const auto start = file.begin() + static_cast<long>(where.value_start);
            EXPECT_EQ(where.line, static_cast<uint32_t>(std::count(file.begin(), start, '\n') + 1));
            ++found;
        }
    }
    EXPECT_GT(over_buffer, 20u);
    EXPECT_GT(unfinished, 20u);
    EXPECT_GT(found, 100u);
}

}  // namespace
