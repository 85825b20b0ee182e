// Reading the case tables kept as text files next to the tests. A case line
// is made of words separated by blanks; a word in double quotes may hold
// blanks and the escapes \n \r \t \" \\ and \xHH (any byte). In quoted words and expected
// output, {c*N} stands for N copies of the character c, so long lines stay
// short in the table.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace zorvitest {

inline std::string expand_repeats(const std::string &text)
{
    static const std::regex repeat(R"(\{([\s\S])\*(\d+)\})");
    std::string out;
    auto at = text.cbegin();
    for (std::sregex_iterator m(text.begin(), text.end(), repeat), end; m != end; ++m) {
        out.append(at, (*m)[0].first).append(std::stoul((*m)[2]), *(*m)[1].first);
        at = (*m)[0].second;
    }
    return out.append(at, text.cend());
}

// The words of `line`; a bare "--" ends them (the rest is a note).
inline std::vector<std::string> case_words(const std::string &line)
{
    std::vector<std::string> words;
    for (size_t at = line.find_first_not_of(" \t"); at != std::string::npos;
         at = line.find_first_not_of(" \t", at)) {
        if (line[at] != '"') {
            const size_t end = std::min(line.find_first_of(" \t", at), line.size());
            if (line.compare(at, end - at, "--") == 0) {
                break;
            }
            words.push_back(line.substr(at, end - at));
            at = end;
            continue;
        }
        std::string word;
        for (++at; at < line.size() && line[at] != '"'; ++at) {
            const char c = line[at] == '\\' && at + 1 < line.size() ? line[++at] : '\0';
            if (c == 'x' && at + 2 < line.size()) {
                word += static_cast<char>(std::stoul(line.substr(at + 1, 2), nullptr, 16));
                at += 2;
            } else {
                word += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c ? c : line[at];
            }
        }
        if (at++ >= line.size()) {
            throw std::runtime_error("unterminated quote: " + line);
        }
        words.push_back(expand_repeats(word));
    }
    return words;
}

// One line of a case table: its words, its line number and the title of
// the "== title" group it stands in.
struct CaseLine {
    std::vector<std::string> words;
    size_t number;
    std::string group;
};

// The lines of a table that hold words, comments ('#' first) and group
// titles left out.
inline std::vector<CaseLine> case_table(const std::string &path)
{
    std::ifstream file(path);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    std::vector<CaseLine> table;
    std::string group;
    size_t number = 0;
    for (std::string line; std::getline(file, line);) {
        std::vector<std::string> words = case_words(line);
        ++number;
        if (words.empty() || line[0] == '#') {
            continue;
        }
        if (words[0] == "==") {
            group = line.substr(3);
            continue;
        }
        table.push_back({std::move(words), number, group});
    }
    return table;
}

// Calls `check` with the words of every row of the table, under a trace
// that names the row: PATH:LINE (GROUP).
template <typename Check>
void each_row(const std::string &path, const Check &check)
{
    for (const CaseLine &line : case_table(path)) {
        SCOPED_TRACE(path + ":" + std::to_string(line.number) + " (" + line.group + ")");
        check(line.words);
    }
}

}  // namespace zorvitest
