// Reading the case tables kept as text files next to the tests. A case line
// is made of words separated by blanks; a word in double quotes may hold
// blanks and the escapes \n \r \t \" \\ and \xHH (any byte). In quoted words and expected
// output, {c*N} stands for N copies of the character c, so long lines stay
// short in the table.
#pragma once

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace zorvitest {

inline std::string expand_repeats(const std::string &text)
{
    std::string out;
    for (size_t at = 0; at < text.size(); ++at) {
        const size_t close = text.find('}', at);
        const size_t digits = at + 3;
        if (text[at] == '{' && close != std::string::npos && close > digits &&
            text[at + 2] == '*' && text.find_first_not_of("0123456789", digits) == close) {
            out.append(std::stoul(text.substr(digits, close - digits)), text[at + 1]);
            at = close;
        } else {
            out += text[at];
        }
    }
    return out;
}

// The words of `line`; a bare "--" ends them (the rest is a note).
inline std::vector<std::string> case_words(const std::string &line)
{
    std::vector<std::string> words;
    for (size_t at = 0; at < line.size();) {
        if (line[at] == ' ' || line[at] == '\t') {
            ++at;
        } else if (line[at] != '"') {
            const size_t end = std::min(line.find_first_of(" \t", at), line.size());
            words.push_back(line.substr(at, end - at));
            at = end;
            if (words.back() == "--") {
                words.pop_back();
                break;
            }
        } else {
            std::string word;
            for (++at; at < line.size() && line[at] != '"'; ++at) {
                if (line[at] == '\\' && ++at < line.size()) {
                    const char c = line[at];
                    if (c == 'x' && at + 2 < line.size()) {
                        word += static_cast<char>(std::stoul(line.substr(at + 1, 2), nullptr, 16));
                        at += 2;
                        continue;
                    }
                    word += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
                } else {
                    word += line[at];
                }
            }
            if (at++ >= line.size()) {
                throw std::runtime_error("unterminated quote: " + line);
            }
            words.push_back(expand_repeats(word));
        }
    }
    return words;
}

inline std::vector<std::string> case_lines(const std::string &path)
{
    std::ifstream file(path);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

// One line of a case table: its words, its line number and the title of
// the "== title" group it stands in.
struct CaseLine {
    std::vector<std::string> words;
    size_t number;
    std::string group;
};

// The lines of a table that hold words, comments ('#' first) and group
// titles left out; a test's SCOPED_TRACE names a line by `trace`.
inline std::vector<CaseLine> case_table(const std::string &path)
{
    std::vector<CaseLine> table;
    std::string group;
    const std::vector<std::string> lines = case_lines(path);
    for (size_t n = 0; n < lines.size(); ++n) {
        std::vector<std::string> words = case_words(lines[n]);
        if (words.empty() || lines[n][0] == '#') {
            continue;
        }
        if (words[0] == "==") {
            group = lines[n].substr(3);
            continue;
        }
        table.push_back({std::move(words), n + 1, group});
    }
    return table;
}

inline std::string trace(const std::string &path, const CaseLine &line)
{
    return path + ":" + std::to_string(line.number) + " (" + line.group + ")";
}

}  // namespace zorvitest
