// The operation log's checks of its own file, from path_cases.txt.
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fileaccess/path_check.h"
#include "tests/harness/test_util.h"
#include "tests/template/case_text.h"

namespace {

TEST(PathCheck, EveryStepOfTheTable)
{
    const zorvitest::TempDir scratch;
    char root[PATH_MAX];
    ASSERT_NE(realpath(scratch.path, root), nullptr);
    zorvitest::each_row(ZORVI_PATH_CASES, [&](const std::vector<std::string> &words) {
        std::vector<std::string> w;
        for (std::string word : words) {
            for (size_t at; (at = word.find("{R}")) != std::string::npos;) {
                word.replace(at, 3, root);
            }
            w.push_back(word);
        }
        const char *path = w[1].c_str();
        if (w[0] == "mkdir") {
            ASSERT_TRUE(std::filesystem::create_directories(w[1]));
        } else if (w[0] == "link") {
            ASSERT_EQ(symlink(path, w[2].c_str()), 0);
        } else if (w[0] == "file") {
            zorvitest::write_file(w[1], "");
            ASSERT_EQ(truncate(path, std::stoll(w[2])), 0);
        } else if (w[0] == "size") {
            EXPECT_EQ(zorvitest::status_and_output([&] { return get_file_size(path); }),
                      w[2] + "|" + w[3]);
        } else {
            ASSERT_EQ(w[0], "exist");
            EXPECT_EQ(std::to_string(check_file_exist(path)) + " " +
                          std::to_string(check_path_exist(path)) + " " +
                          std::to_string(check_folder_exist(path)),
                      w[2]);
        }
    });
}

}  // namespace
