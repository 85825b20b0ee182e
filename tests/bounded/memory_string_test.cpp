// Statuses and resets of the copy, fill and string functions, from the case
// table in memory_cases.txt.
#include "bounded/bounded.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "tests/template/case_text.h"

namespace {

// One call of each function; src is the fill value's text for memset_s.
const struct {
    const char *name;
    int32_t (*call)(char *dest, size_t destMax, const char *src, size_t count);
} FUNCTIONS[] = {
    {"memcpy_s", [](char *d, size_t m, const char *s, size_t n) { return memcpy_s(d, m, s, n); }},
    {"memset_s",
     [](char *d, size_t m, const char *s, size_t n) {
         return memset_s(d, m, static_cast<int>(std::stoul(s, nullptr, 0)), n);
     }},
    {"strcpy_s", [](char *d, size_t m, const char *s, size_t) { return strcpy_s(d, m, s); }},
    {"strncpy_s", [](char *d, size_t m, const char *s, size_t n) { return strncpy_s(d, m, s, n); }},
    {"strcat_s", [](char *d, size_t m, const char *s, size_t) { return strcat_s(d, m, s); }},
    {"strncat_s", [](char *d, size_t m, const char *s, size_t n) { return strncat_s(d, m, s, n); }},
};

size_t size_word(const std::string &word)
{
    return word == "-" ? 0 : std::stoul(word);
}

TEST(MemoryAndStrings, EveryCaseOfTheTable)
{
    // The area is the first page of a mapping of the largest size, and no
    // byte past that page may be touched: a call given the largest size
    // faults if it touches more than it needs. Away from the stack and the
    // heap, no source text lies next to it.
    void *mapping = mmap(nullptr, BOUNDED_MAX_LEN, PROT_NONE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(mapping, MAP_FAILED);
    ASSERT_EQ(mprotect(mapping, 4096, PROT_READ | PROT_WRITE), 0);
    char *const area = static_cast<char *>(mapping);
    constexpr size_t AREA = 512;
    zorvitest::each_row(ZORVI_MEMORY_CASES, [&](const std::vector<std::string> &w) {
        ASSERT_EQ(w.size(), 8u);
        memset(area, '~', AREA);
        memcpy(area, w[1].c_str(), w[1].size() + 1);
        char *dest = w[2] == "null" ? nullptr : area + std::stoul(w[2]);
        const char *src = w[4] == "null"   ? nullptr
                          : w[4][0] == '@' ? area + std::stoul(w[4].substr(1))
                                           : w[4].c_str();
        const auto *f = std::find_if(std::begin(FUNCTIONS), std::end(FUNCTIONS),
                                     [&](const auto &each) { return w[0] == each.name; });
        ASSERT_NE(f, std::end(FUNCTIONS));
        EXPECT_EQ(f->call(dest, size_word(w[3]), src, size_word(w[5])), std::stoi(w[6]));
        size_t shown = AREA;
        while (shown > 0 && area[shown - 1] == '~') {
            --shown;
        }
        EXPECT_EQ(std::string(area, shown), w[7]);
    });
    munmap(mapping, BOUNDED_MAX_LEN);
}

}  // namespace
