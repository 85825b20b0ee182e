// The simulated driver as a program sees it through the launcher: replies,
// card checks, faults, the journal and the system-log capture.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <syslog.h>

#include <cerrno>

#include "sim_test_support.h"

namespace {

using simtest::ask;
using simtest::bytes_of;
using simtest::parse_replies;
using simtest::probe;
using simtest::Reply;
using simtest::store_request;
using simtest::write_request;
using zorvitest::Sandbox;

TEST(CardService, QueriesAnswerTheMachineState)
{
    Sandbox box;
    box.add_card("zorvi1", 0xBEEF);
    Reply version = ask(box, {"zorvi0", "version"});
    EXPECT_EQ(version.rc, 0);
    EXPECT_EQ(version.bytes, std::string("1.4.3.0") + std::string(121, '\0'));

    EXPECT_EQ(ask(box, {"zorvi0", "pcidid"}).bytes, std::string("\x22\x18", 2));
    EXPECT_EQ(ask(box, {"zorvi1", "pcidid"}).bytes, std::string("\xEF\xBE", 2));
}

TEST(CardService, VersionReplyIsTheRawDriverText)
{
    Sandbox box;
    std::string full(128, 'v');  // no terminator at all
    box.set_driver_version(full);
    EXPECT_EQ(ask(box, {"zorvi0", "version"}).bytes, full);

    box.set_driver_version("");
    Reply empty = ask(box, {"zorvi0", "version"});
    EXPECT_EQ(empty.rc, 0);
    EXPECT_EQ(empty.bytes, std::string(128, '\0'));
}

TEST(CardService, RefusesWhatADriverWouldRefuse)
{
    Sandbox box;
    const struct {
        std::vector<std::string> args;
        int error;
    } cases[] = {
        {{"zorvi9", "version"}, ENODEV},
        {{"zorvi9", "fetch"}, ENODEV},
        {{"zorvi0123456789a", "pcidid"}, ENODEV},  // 16 characters, no terminator
        {{"", "pcidid"}, ENODEV},
        {{"..", "pcidid"}, ENODEV},
        {{"--request", "0x7819", "zorvi0", "version"}, ENOTTY},
        {{"zorvi0", "3:16:4:128"}, ENOTTY},
        {{"zorvi0", "2:17:4:128"}, ENOTTY},
        {{"zorvi0", "2:16:128:128"}, EINVAL},
        {{"zorvi0", "2:29:2:4"}, EINVAL},
        {{"zorvi0", "4:92160:1024:512"}, EINVAL},
    };
    for (const auto &c : cases) {
        Reply reply = ask(box, c.args);
        EXPECT_EQ(reply.rc, -1) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(reply.error, c.error) << c.args[0] << " " << c.args[1];
    }
}

TEST(CardService, StoredTemplateComesBackAndSurvivesRuns)
{
    Sandbox box;
    Reply empty = ask(box, {"zorvi0", "fetch"});
    EXPECT_EQ(empty.rc, 0);
    ASSERT_EQ(empty.bytes.size(), 1024u);
    EXPECT_EQ(static_cast<uint8_t>(empty.bytes[0]), CARD_STATUS_NO_TEMPLATE);
    EXPECT_FALSE(box.card_template().has_value());

    for (uint32_t mode : {0x00u, 0x18u, 0x7Fu}) {
        ResourceTemplate record = store_request(mode, mode + 1);
        Reply stored = ask(box, {"zorvi0", "store", write_request(box, "store.bin", record)});
        EXPECT_EQ(stored.rc, 0);
        EXPECT_EQ(stored.bytes, bytes_of(record)) << "a store answers its request, status 0";

        auto kept = box.card_template();
        ASSERT_TRUE(kept.has_value());
        EXPECT_EQ(bytes_of(*kept), bytes_of(record));
        Reply fetched = ask(box, {"zorvi0", "fetch"});
        EXPECT_EQ(fetched.bytes, bytes_of(record)) << "mode " << mode;
    }
    // Cards are separate.
    box.add_card("zorvi1", 0x1822);
    EXPECT_EQ(static_cast<uint8_t>(ask(box, {"zorvi1", "fetch"}).bytes[0]),
              CARD_STATUS_NO_TEMPLATE);
}

TEST(CardService, BadStoresAreRefusedAndLeaveTheCard)
{
    Sandbox box;
    ResourceTemplate kept = store_request(0x7F, 1);
    box.set_card_template("zorvi0", kept);
    const struct {
        const char *what;
        void (*spoil)(ResourceTemplate *);
        uint8_t status;
    } cases[] = {
        {"channel byte", [](ResourceTemplate *r) { r->channel_byte = 2; }, CARD_STATUS_BAD_CHANNEL},
        {"magic", [](ResourceTemplate *r) { memcpy(r->magic, "ZZZY", 4); }, CARD_STATUS_BAD_MAGIC},
        {"length", [](ResourceTemplate *r) { r->length = 712; }, CARD_STATUS_BAD_LENGTH},
        {"checksum", [](ResourceTemplate *r) { r->crc += 1; }, CARD_STATUS_BAD_CRC},
        {"body", [](ResourceTemplate *r) { r->HN ^= 1; }, CARD_STATUS_BAD_CRC},
    };
    for (const auto &c : cases) {
        ResourceTemplate record = store_request(0x7F, 2);
        c.spoil(&record);
        Reply reply = ask(box, {"zorvi0", "store", write_request(box, "bad.bin", record)});
        EXPECT_EQ(reply.rc, 0) << c.what;
        ASSERT_EQ(reply.bytes.size(), 1024u);
        EXPECT_EQ(static_cast<uint8_t>(reply.bytes[0]), c.status) << c.what;
        EXPECT_EQ(bytes_of(*box.card_template()), bytes_of(kept)) << c.what;
    }
}

TEST(CardService, InjectedFaultsHitOnlyTheirKind)
{
    Sandbox box;
    std::string good = write_request(box, "good.bin", store_request(0x01, 3));

    box.fail_open(true);
    EXPECT_EQ(probe(box, {"zorvi0", "version"}).out, "open failed errno=2\n");
    box.fail_open(false);
    EXPECT_EQ(ask(box, {"zorvi0", "version"}).rc, 0);

    const char *kinds[] = {"version", "pcidid", "fetch", "store"};
    for (const char *failing : {"version", "pcidid", "fetch", "store", "all"}) {
        box.fail_ioctl(failing);
        for (const char *kind : kinds) {
            std::vector<std::string> args = {"zorvi0", kind};
            if (std::string(kind) == "store") {
                args.push_back(good);
            }
            bool hit = std::string(failing) == "all" || std::string(failing) == kind;
            Reply reply = ask(box, args);
            EXPECT_EQ(reply.rc, hit ? -1 : 0) << failing << " " << kind;
            EXPECT_EQ(reply.error, hit ? EIO : 0) << failing << " " << kind;
        }
        box.fail_ioctl(failing, false);
    }
    EXPECT_EQ(bytes_of(*box.card_template()), bytes_of(store_request(0x01, 3)))
        << "only stores outside the store faults reached the card";

    box.answer_status("store", 0x42);
    ResourceTemplate other = store_request(0x02, 4);
    Reply refused = ask(box, {"zorvi0", "store", write_request(box, "other.bin", other)});
    EXPECT_EQ(static_cast<uint8_t>(refused.bytes[0]), 0x42);
    EXPECT_EQ(bytes_of(*box.card_template()), bytes_of(store_request(0x01, 3)));
    EXPECT_EQ(static_cast<uint8_t>(ask(box, {"zorvi0", "fetch"}).bytes[0]), 0);
    box.answer_status("store", 0);

    box.answer_status("all", 0x05);
    EXPECT_EQ(static_cast<uint8_t>(ask(box, {"zorvi0", "fetch"}).bytes[0]), 0x05);
    EXPECT_EQ(ask(box, {"zorvi0", "version"}).rc, 0) << "queries carry no status byte";
    box.answer_status("all", 0);
    EXPECT_EQ(static_cast<uint8_t>(ask(box, {"zorvi0", "fetch"}).bytes[0]), 0);
    EXPECT_THROW(box.answer_status("version", 1), std::exception);
    EXPECT_THROW(box.fail_ioctl("fetches"), std::exception);
}

TEST(CardService, JournalShowsRequestsAsTheyArrived)
{
    Sandbox box;
    ResourceTemplate record = store_request(0x7F, 5);
    probe(box, {"zorvi0", "store", write_request(box, "store.bin", record)});
    probe(box, {"--split", "--flags", "0x80002", "zorvi0", "version"});  // O_RDWR | O_CLOEXEC
    probe(box, {"--request", "0x5401", "zorvi0", "version"});
    box.fail_open(true);
    probe(box, {"zorvi0", "pcidid"});

    std::vector<zorvitest::SimRequest> requests = box.requests();
    ASSERT_EQ(requests.size(), 3u);
    const zorvitest::SimRequest &store = requests[0];
    EXPECT_EQ(store.device_name, std::string("zorvi0") + std::string(10, '\0'));
    EXPECT_EQ(store.module, 4u);
    EXPECT_EQ(store.command, 0x16800u);
    EXPECT_EQ(store.in_size, 1024u);
    EXPECT_EQ(store.out_size, 1024u);
    EXPECT_EQ(store.dev_id, 0);
    EXPECT_EQ(store.reserved, 0u);
    EXPECT_TRUE(store.same_buffer);
    EXPECT_EQ(std::string(store.data.begin(), store.data.end()), bytes_of(record));
    EXPECT_EQ(store.open_flags, O_RDWR);
    EXPECT_EQ(store.ioctl_request, 0x7818);
    EXPECT_EQ(store.result, 0);

    EXPECT_FALSE(requests[1].same_buffer);
    EXPECT_EQ(requests[1].open_flags, O_RDWR | O_CLOEXEC);
    EXPECT_EQ(requests[1].data, std::vector<uint8_t>(4, 0));
    EXPECT_EQ(requests[2].ioctl_request, 0x5401);
    EXPECT_EQ(requests[2].result, -1);

    EXPECT_EQ(box.opens(), 3) << "the refused open is not counted";
    EXPECT_EQ(box.closes(), 3);
}

TEST(CardService, FortifiedCallsReachTheSimulator)
{
    Sandbox box;
    Reply reply;
    std::vector<simtest::Reply> replies =
        parse_replies(probe(box, {"zorvi0", "pcidid"}, SIM_PROBE_FORTIFIED_PATH).out);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes, std::string("\x22\x18", 2));
    probe(box, {"--syslog", "fortified", "100%"}, SIM_PROBE_FORTIFIED_PATH);
    ASSERT_FALSE(box.syslog().empty());
    EXPECT_EQ(box.syslog()[0].message, "100%");
}

TEST(CardService, SystemLogIsCapturedWithItsAttributes)
{
    Sandbox box;
    std::string message = "[2024-03-05 14:07:09] [zorviconfig 100%s\nx] [FAILED<-1>].";
    probe(box, {"--syslog", "zorviadm", message});
    std::vector<zorvitest::SyslogEntry> entries = box.syslog();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].identity, "zorviadm");
    EXPECT_EQ(entries[0].option, LOG_PID | LOG_CONS);
    EXPECT_EQ(entries[0].facility, LOG_USER);
    EXPECT_EQ(entries[0].priority, LOG_INFO);
    EXPECT_EQ(entries[0].message, message);
    EXPECT_EQ(entries[1].facility, LOG_DAEMON);
    EXPECT_EQ(entries[1].priority, LOG_WARNING);
    EXPECT_EQ(entries[1].message, "count 2 of two");
    // After closelog the C library's defaults apply: the program's name.
    EXPECT_EQ(entries[2].identity, "sim_probe");
    EXPECT_EQ(entries[2].option, 0);
    EXPECT_EQ(entries[2].priority, LOG_ERR);
}

TEST(CardService, ConcurrentStoresNeverMixRecords)
{
    Sandbox box;
    ResourceTemplate first = store_request(0x7F, 11);
    ResourceTemplate second = store_request(0x7F, 22);
    std::string first_path = write_request(box, "first.bin", first);
    std::string second_path = write_request(box, "second.bin", second);
    const char *rounds = "150";
    zorvitest::SimProcess a =
        box.start_command({SIM_PROBE_PATH, "--repeat", rounds, "zorvi0", "store", first_path});
    zorvitest::SimProcess b =
        box.start_command({SIM_PROBE_PATH, "--repeat", rounds, "zorvi0", "store", second_path});
    zorvitest::SimProcess reader =
        box.start_command({SIM_PROBE_PATH, "--repeat", rounds, "zorvi0", "fetch"});

    for (zorvitest::SimProcess *writer : {&a, &b}) {
        zorvitest::RunResult result = writer->wait();
        EXPECT_EQ(result.exit_status, 0);
        std::vector<Reply> replies = parse_replies(result.out);
        EXPECT_EQ(replies.size(), 150u);
        for (const Reply &reply : replies) {
            ASSERT_EQ(reply.rc, 0);
            ASSERT_EQ(reply.bytes[0], 0);
        }
    }
    std::vector<Reply> fetched = parse_replies(reader.wait().out);
    EXPECT_EQ(fetched.size(), 150u);
    for (const Reply &reply : fetched) {
        bool whole = reply.bytes == bytes_of(first) || reply.bytes == bytes_of(second) ||
                     static_cast<uint8_t>(reply.bytes[0]) == CARD_STATUS_NO_TEMPLATE;
        ASSERT_TRUE(whole) << "a fetch saw a mixed record";
    }
    std::string kept = bytes_of(*box.card_template());
    EXPECT_TRUE(kept == bytes_of(first) || kept == bytes_of(second));
}

}  // namespace
