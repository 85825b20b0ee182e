// The shipped examples parse, with the program's own checksum, into exactly
// the records they were written from.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "template/template_parser.h"
#include "tests/template/example_templates.h"
#include "tests/template/fake_card.h"

namespace {

TEST(Examples, ParseIntoTheirRecords)
{
    for (const zorvitest::ExampleTemplate &example : zorvitest::example_templates()) {
        SCOPED_TRACE(example.file_name);
        zorvitest::g_fake_card = {};
        const std::string path = std::string(ZORVI_EXAMPLES_DIR) + "/" + example.file_name;
        ResourceTemplate record{};
        testing::internal::CaptureStdout();
        EXPECT_EQ(parse_template_file(path.c_str(), &record), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        const ResourceTemplate expected = zorvitest::parsed_form(example.record);
        EXPECT_EQ(memcmp(&record, &expected, sizeof(record)), 0);
        EXPECT_EQ(zorvitest::g_fake_card.pci_queries, 1);
    }
}

}  // namespace
