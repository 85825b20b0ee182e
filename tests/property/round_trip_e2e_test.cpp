// Random valid templates loaded by the real tool onto the simulated card and
// shown again: the card must hold exactly the record with the store header
// (length and checksum by the reference rule), and the display must show
// every value of it.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "channel/tool_message.h"
#include "tests/harness/sandbox.h"
#include "tests/harness/test_util.h"
#include "tests/property/random_template.h"
#include "tests/template/template_file.h"

namespace {

constexpr int CASES = 80;

const std::string SUCCEEDED =
    "Succeed to configure device zorvi0\nPlease reboot OS for the new configure to take effect\n";

TEST(RoundTripProperty, LoadedTemplatesReachTheCardAndDisplayWithoutLoss)
{
    zorvitest::Sandbox box;
    const std::string path = box.dir() + "/random.ini";
    std::mt19937 rng(1206);
    for (int i = 0; i < CASES; ++i) {
        const bool older = i % 8 == 7;
        box.set_driver_version(older ? "1.4.2.9" : "1.4.3.0");
        const uint32_t mode = zorviprop::random_mode(rng);
        const auto made = zorviprop::random_template(rng, mode, older);
        SCOPED_TRACE("case " + std::to_string(i) + ", mode " + std::to_string(mode));

        zorvitest::TemplateFileOptions options;
        options.version = made.version;
        options.hex = i % 2 == 0;
        options.line_end = i % 3 == 0 ? "\r\n" : "\n";
        if (older) {
            options.pcidid.reset();
        }
        zorvitest::write_text_file(path, zorvitest::render_template_file(made.record, options));
        const size_t before = box.requests().size();
        auto load = box.run({"zorvi0", "-f", path}, {.input = "yes\nagree\n"});
        ASSERT_EQ(load.exit_status, 0) << load.out;
        // Nothing goes to standard error; under the sanitizers a report would.
        EXPECT_EQ(load.err, "");
        ASSERT_TRUE(load.out.ends_with(SUCCEEDED)) << load.out;

        // The store request: the record, with the header the exchange fills.
        const auto *body = reinterpret_cast<const uint8_t *>(&made.record) + TEMPLATE_BODY_OFFSET;
        ResourceTemplate sent = made.record;
        sent.channel_byte = 3;
        sent.flags = 1;
        memcpy(sent.magic, "ZZZZ", 4);
        sent.length = zorviprop::reference_length(mode);
        sent.crc = zorvitest::reference_crc32(body, sent.length);
        const auto requests = box.requests();
        ASSERT_GT(requests.size(), before);
        const auto &store = requests.back();
        ASSERT_EQ(store.module, TEMPLATE_MODULE);
        ASSERT_EQ(store.data.size(), sizeof(sent));
        ResourceTemplate request_record;
        memcpy(&request_record, store.data.data(), sizeof(request_record));
        EXPECT_EQ(request_record.length, sent.length);
        EXPECT_EQ(request_record.crc, sent.crc);
        EXPECT_EQ(memcmp(&request_record, &sent, sizeof(sent)), 0);

        auto card = box.card_template("zorvi0");
        ASSERT_TRUE(card.has_value());
        EXPECT_EQ(memcmp(&*card, &sent, sizeof(sent)), 0);

        auto shown = box.run({"zorvi0"}, {.input = "", .no_input = true});
        ASSERT_EQ(shown.exit_status, 0);
        EXPECT_EQ(shown.err, "");
        EXPECT_EQ(shown.out, zorviprop::expected_display(made.record));
    }
}

}  // namespace
