// The INI reader, rule by rule: each case is a file, a lookup, and the exact
// result and printed lines.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fileaccess/ini_reader.h"

namespace {

const std::string KEY_MISSING =
    "keyname isn't existed\nFailed to get key value for the input key\n";

class IniFile : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zorvi-ini-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/t.ini";
    }
    void TearDown() override
    {
        unlink(path_.c_str());
        rmdir(dir_.c_str());
    }
    void write(const std::string &text)
    {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
    }
    // Looks a number up and returns the printed lines.
    std::string uint_lookup(const std::string &section, const std::string &key,
                            int32_t *status, uint32_t *value)
    {
        *value = 0xDEADBEEF;
        testing::internal::CaptureStdout();
        *status = get_uint_key_value(path_.c_str(), section.c_str(), key.c_str(), value);
        return testing::internal::GetCapturedStdout();
    }
    std::string string_lookup(const std::string &section, const std::string &key,
                              int32_t *status, std::string *value)
    {
        char buffer[INI_VALUE_SIZE];
        memset(buffer, 'Z', sizeof(buffer));
        testing::internal::CaptureStdout();
        *status = get_string_key_value(path_.c_str(), section.c_str(), key.c_str(), buffer);
        std::string out = testing::internal::GetCapturedStdout();
        *value = (*status == 0) ? std::string(buffer, strnlen(buffer, sizeof(buffer))) : "";
        return out;
    }
    std::string dir_;
    std::string path_;
};

struct UintCase {
    const char *what;
    std::string file;
    int32_t status;
    uint32_t value;  // checked when status is 0
    std::string out;
};

class IniUint : public IniFile {
protected:
    void check(const std::vector<UintCase> &cases)
    {
        for (const UintCase &c : cases) {
            SCOPED_TRACE(c.what);
            write(c.file);
            int32_t status = 0;
            uint32_t value = 0;
            std::string out = uint_lookup("CONFIG", "HN", &status, &value);
            EXPECT_EQ(status, c.status);
            EXPECT_EQ(out, c.out);
            if (c.status == 0) {
                EXPECT_EQ(value, c.value);
            }
        }
    }
};

TEST_F(IniUint, BlanksAroundKeysAndValuesAreDropped)
{
    check({
        {"spaces", "[CONFIG]\n HN = 2 \n", 0, 2, ""},
        {"tabs", "[CONFIG]\n\tHN\t=\t2\t\n", 0, 2, ""},
        {"indented header", "  \t[CONFIG]\nHN=2\n", 0, 2, ""},
        {"key case matters", "[CONFIG]\nhn=2\n", -1, 0, KEY_MISSING},
        {"key is compared whole", "[CONFIG]\nHN1=2\nH=1\n", -1, 0, KEY_MISSING},
        {"empty key and no = are passed over", "[CONFIG]\n=5\nHN 5\nHN=3\n", 0, 3, ""},
        {"blank inside the key", "[CONFIG]\nH N=3\n", -1, 0, KEY_MISSING},
        {"no final newline", "[CONFIG]\nHN=7", 0, 7, ""},
    });
}

TEST_F(IniUint, CommentsAreSkippedAnywhere)
{
    check({
        {"comment lines", "[CONFIG]\n# HN=1\n   # x\n\t// HN=9\n\nHN=4\n", 0, 4, ""},
        {"commented header is no header", "#[CONFIG]\nHN=1\n//[CONFIG]\nHN=1\n[CONFIG]\nHN=2\n",
         0, 2, ""},
        {"hash after a value stays in it", "[CONFIG]\nHN=2 # hosts\n", 0, 2, ""},
        {"slashes end the value", "[CONFIG]\nHN=2 // hosts\n", 0, 2, ""},
        {"hash before the digits", "[CONFIG]\nHN=# 2\n", -1, 0,
         "Sscanf_s unit pkeyvalue # 2 failed.\n"},
        {"single slash is no comment", "[CONFIG]\n/HN=1\nHN=6\n", 0, 6, ""},
    });
}

TEST_F(IniUint, SectionHeaders)
{
    check({
        {"blank after [", "[ CONFIG]\nHN=2\n", 0, 2, ""},
        // Blanks before ']' are dropped as well: the header reads as CONFIG.
        {"blank before ]", "[CONFIG \t]\nHN=2\n", 0, 2, ""},
        {"text after ]", "[CONFIG] trailing text\nHN=2\n", 0, 2, ""},
        {"section case matters", "[config]\nHN=2\n", -1, 0, ""},
        {"no ] is no header", "[CONFIG\nHN=2\n", -1, 0, ""},
        {"empty name", "[]\nHN=2\n", -1, 0, ""},
        {"other section only", "[INFO]\nHN=2\n", -1, 0, ""},
        {"key in another section", "[CONFIG]\nPN=1\n[INFO]\nHN=2\n", -1, 0, KEY_MISSING},
        {"[ without ] ends the section", "[CONFIG]\nPN=1\n[xyz\nHN=2\n", -1, 0, KEY_MISSING},
        {"indented [ ends the section", "[CONFIG]\n  [\nHN=2\n", -1, 0, KEY_MISSING},
        {"key before the first header", "HN=2\n[CONFIG]\nPN=1\n", -1, 0, KEY_MISSING},
        {"key before any header, no section", "HN=2\n", -1, 0, ""},
        {"empty file", "", -1, 0, ""},
        {"first section of a name wins", "[CONFIG]\nPN=1\n[INFO]\n[CONFIG]\nHN=2\n", -1, 0,
         KEY_MISSING},
        {"first key wins", "[CONFIG]\nHN=1\nHN=2\n", 0, 1, ""},
        {"later section found after others", "[INFO]\nHN=9\n[CONFIG]\nHN=3\n", 0, 3, ""},
    });
}

TEST_F(IniUint, CarriageReturnLineEnds)
{
    check({
        {"crlf", "[CONFIG]\r\n HN = 0x1F \r\n", 0, 31, ""},
        {"crlf header with text", "[CONFIG] x\r\n\r\n# c\r\nHN=3\r\n", 0, 3, ""},
        {"crlf comment after value", "[CONFIG]\r\nHN=2 // x\r\n", 0, 2, ""},
    });
}

TEST_F(IniUint, LongLinesAreReadIn511CharacterPieces)
{
    const std::string piece(511, 'x');
    check({
        {"long junk line", "[CONFIG]\n" + std::string(600, 'x') + "\nHN=2\n", 0, 2, ""},
        {"exactly 511 then newline", "[CONFIG]\n" + piece + "\nHN=5\n", 0, 5, ""},
        // The second piece of a long comment line is a line of its own.
        {"second piece is a key line", "[CONFIG]\n#" + std::string(510, 'c') + "HN=7\nHN=2\n",
         0, 7, ""},
        {"long value line", "[CONFIG]\nHN=" + std::string(508, ' ') + "1\n", -1, 0,
         "Sscanf_s unit pkeyvalue  failed.\n"},
    });
}

TEST_F(IniUint, NumberForms)
{
    auto hn = [](const std::string &value) { return "[CONFIG]\nHN=" + value + "\n"; };
    check({
        {"hex", hn("0x1F"), 0, 31, ""},
        {"hex upper X", hn("0X1f"), 0, 31, ""},
        {"decimal", hn("31"), 0, 31, ""},
        {"leading zero is decimal", hn("017"), 0, 17, ""},
        {"prefix only", hn("0x"), -1, 0, "Sscanf_s unit pkeyvalue 0x failed.\n"},
        {"letters", hn("abc"), -1, 0, "Sscanf_s unit pkeyvalue abc failed.\n"},
        {"empty", hn(""), -1, 0, "Sscanf_s unit pkeyvalue  failed.\n"},
        {"blank only", hn("   "), -1, 0, "Sscanf_s unit pkeyvalue  failed.\n"},
        {"minus one", hn("-1"), 0, 4294967295u, ""},
        {"beyond 32 bits keeps the low bits", hn("4294967298"), 0, 2, ""},
        {"beyond 64 bits", hn("123456789012345678901"), 0, 4294967295u, ""},
        {"largest", hn("4294967295"), 0, 4294967295u, ""},
        {"digits then letters", hn("12abc"), 0, 12, ""},
        {"hex stops at non-digit", hn("0x1G"), 0, 1, ""},
        {"prefix twice", hn("0x0x5"), 0, 5, ""},
    });
}

TEST_F(IniFile, StringValuesUpTo31Characters)
{
    struct Case {
        std::string value;
        std::string expected;
        std::string out;
    } cases[] = {
        {std::string(31, 'a'), std::string(31, 'a'), ""},
        {std::string(32, 'a'), "", "Copy data failed!\n"},
        {std::string(400, 'a'), "", "Copy data failed!\n"},
        {"  mode one  ", "mode one", ""},
        {"", "", ""},
        {"a # b", "a # b", ""},
        {"a // b", "a", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        write("[INFO]\r\nMODENAME=" + c.value + "\r\n");
        int32_t status = -99;
        std::string value;
        EXPECT_EQ(string_lookup("INFO", "MODENAME", &status, &value), c.out);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(value, c.expected);
    }
}

TEST_F(IniFile, MissingFileSectionAndKeyMessages)
{
    int32_t status = 0;
    uint32_t number = 0;
    std::string text;
    EXPECT_EQ(uint_lookup("CONFIG", "HN", &status, &number), "File isn't existed\n");
    EXPECT_EQ(status, -1);
    EXPECT_EQ(string_lookup("INFO", "MODENAME", &status, &text), "File isn't existed\n");
    EXPECT_EQ(status, -1);

    write("[INFO]\nVERSION=1\n");
    EXPECT_EQ(string_lookup("INFO", "MODENAME", &status, &text), KEY_MISSING);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(string_lookup("CONFIG", "MODENAME", &status, &text), "");
    EXPECT_EQ(status, -1);

    char value[INI_VALUE_SIZE] = "unchanged";
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_key_value(path_.c_str(), "INFO", "VERSION", value), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_STREQ(value, "1");
}

TEST_F(IniFile, AFolderIsNoTemplate)
{
    int32_t status = 0;
    uint32_t number = 0;
    path_ = dir_;
    EXPECT_EQ(uint_lookup("CONFIG", "HN", &status, &number), "");
    EXPECT_EQ(status, -1);
    path_ = dir_ + "/t.ini";
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

TEST_F(IniFile, EveryLookupClosesTheFile)
{
    write("[CONFIG]\nHN=1\nPN=x\n[INFO]\nMODENAME=" + std::string(40, 'm') + "\n");
    const int before = open_descriptors();
    for (int i = 0; i < 50; ++i) {
        int32_t status = 0;
        uint32_t number = 0;
        std::string text;
        uint_lookup("CONFIG", "HN", &status, &number);     // found
        uint_lookup("CONFIG", "PN", &status, &number);     // not a number
        uint_lookup("CONFIG", "QN", &status, &number);     // no such key
        uint_lookup("NOPE", "HN", &status, &number);       // no such section
        string_lookup("INFO", "MODENAME", &status, &text); // too long
    }
    EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
