// The simulated card: its own rules against independent references, and the
// driver as a program sees it through the launcher (replies, refusals, card
// checks, faults, the journal, the system-log capture, concurrent stores).
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <sstream>

#include "sim/card_rules.h"
#include "tests/harness/sandbox.h"
#include "tests/harness/test_util.h"

namespace {

using zorvitest::Sandbox;

std::string bytes_of(const ResourceTemplate &record)
{
    return std::string(reinterpret_cast<const char *>(&record), sizeof(record));
}

// What the probe prints for one request answered with `reply`, or refused.
std::string answered(const std::string &reply)
{
    std::string line = "rc=0 errno=0 reply=";
    for (unsigned char byte : reply) {
        line += "0123456789abcdef"[byte >> 4];
        line += "0123456789abcdef"[byte & 0x0F];
    }
    return line + "\n";
}

// A template reply: the record with the card's status byte.
std::string answered(ResourceTemplate record, uint8_t status = CARD_STATUS_OK)
{
    record.status = status;
    return answered(bytes_of(record));
}

std::string refused(int error)
{
    return "rc=-1 errno=" + std::to_string(error) + "\n";
}

// Template requests as the tool builds them, with the tool's length rule
// and the reference checksum rather than the card's own.
ResourceTemplate fetch_request()
{
    ResourceTemplate record{};
    record.channel_byte = 3;
    memcpy(record.magic, "ZZZZ", 4);
    record.length = TEMPLATE_BASE_LENGTH;
    return record;
}

ResourceTemplate store_request(uint32_t mode, uint32_t seed)
{
    ResourceTemplate record = fetch_request();
    auto *bytes = reinterpret_cast<uint8_t *>(&record);
    for (size_t at = TEMPLATE_BODY_OFFSET; at < sizeof(record); ++at) {
        bytes[at] = static_cast<uint8_t>(at * seed);
    }
    record.flags = 1;
    record.mode = mode;
    record.length = template_length(&record);
    record.crc = zorvitest::reference_crc32(bytes + TEMPLATE_BODY_OFFSET, record.length);
    return record;
}

std::string file_of(const Sandbox &box, const ResourceTemplate &record)
{
    static int count = 0;
    std::string path = box.dir() + "/request-" + std::to_string(++count) + ".bin";
    zorvitest::write_file(path, bytes_of(record));
    return path;
}

// Standard output of the probe run with `args` on the sandbox.
std::string probe(Sandbox &box, std::vector<std::string> args,
                  const std::string &program = SIM_PROBE_PATH)
{
    args.insert(args.begin(), program);
    return box.run_command(args).out;
}

TEST(CardRules, ChecksumAndCoveredLengthAgreeWithTheirReferences)
{
    // The checksum over other ranges meets the reference in every good store below.
    EXPECT_EQ(card_crc32(reinterpret_cast<const uint8_t *>("123456789"), 9), 0x765E7680u);
    ResourceTemplate record{};
    for (record.mode = 0; record.mode < 0x200; ++record.mode) {
        EXPECT_EQ(card_covered_length(record.mode), template_length(&record)) << record.mode;
    }
}

TEST(CardService, AnswersQueriesAndRefusesWhatADriverWould)
{
    Sandbox box;
    box.add_card("zorvi1", 0xBEEF);
    box.set_card_template("zorvi0", store_request(0x7F, 1));
    const std::string fetch = file_of(box, fetch_request());
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"zorvi0", "version"}, answered(std::string("1.4.3.0") + std::string(121, '\0'))},
        {{"zorvi0", "pcidid"}, answered("\x10\x33")},
        {{"zorvi1", "pcidid"}, answered("\xEF\xBE")},
        // Cards are separate: zorvi1 holds no template.
        {{"zorvi1", "fetch", fetch}, answered(fetch_request(), CARD_STATUS_NO_TEMPLATE)},
        {{"zorvi9", "version"}, refused(ENODEV)},
        {{"zorvi9", "fetch", fetch}, refused(ENODEV)},
        {{"zorvi0123456789a", "pcidid"}, refused(ENODEV)},  // 16 characters, no terminator
        {{"", "pcidid"}, refused(ENODEV)},
        {{"..", "pcidid"}, refused(ENODEV)},
        {{"--request", "0x7819", "zorvi0", "version"}, refused(ENOTTY)},
        {{"zorvi0", "3:16:4:128"}, refused(ENOTTY)},
        {{"zorvi0", "2:17:4:128"}, refused(ENOTTY)},
        {{"zorvi0", "2:16:128:128"}, refused(EINVAL)},
        {{"zorvi0", "2:29:2:4"}, refused(EINVAL)},
        {{"zorvi0", "4:92160:1024:512", fetch}, refused(EINVAL)},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(probe(box, c.args), c.out) << c.args[0] << " " << c.args[1];
    }
    // The version reply is the driver's raw text: 128 bytes without a NUL are all of it.
    for (std::string version : {std::string(128, 'v'), std::string()}) {
        box.set_driver_version(version);
        version.resize(128, '\0');
        EXPECT_EQ(probe(box, {"zorvi0", "version"}), answered(version));
    }
}

TEST(CardService, ChecksEachRequestAndKeepsOnlyGoodStores)
{
    constexpr size_t CHANNEL = offsetof(ResourceTemplate, channel_byte);
    constexpr size_t MAGIC = offsetof(ResourceTemplate, magic);
    constexpr size_t LENGTH = offsetof(ResourceTemplate, length);
    // Each row sends a fresh fetch or store of `mode` with `mask` XORed into
    // its byte `at`, in one sandbox, in order.
    const struct {
        const char *what;
        bool store;
        uint32_t mode;
        size_t at;
        uint8_t mask;
        uint8_t status;
    } cases[] = {
        {"mode 0", true, 0x00, 0, 0, CARD_STATUS_OK},
        {"mode 0x18", true, 0x18, 0, 0, CARD_STATUS_OK},
        {"mode 0x80", true, 0x80, 0, 0, CARD_STATUS_OK},
        {"a byte past the covered range", true, 0x01, 32 + 384, 1, CARD_STATUS_OK},
        {"fetch", false, 0, 0, 0, CARD_STATUS_OK},
        {"mode 0x7F", true, 0x7F, 0, 0, CARD_STATUS_OK},
        {"channel byte", true, 0x7F, CHANNEL, 1, CARD_STATUS_BAD_CHANNEL},
        {"magic", true, 0x7F, MAGIC + 3, 1, CARD_STATUS_BAD_MAGIC},
        {"length of mode 0x08", true, 0x18, LENGTH, 708 ^ 712, CARD_STATUS_BAD_LENGTH},
        {"checksum", true, 0x7F, offsetof(ResourceTemplate, crc), 1, CARD_STATUS_BAD_CRC},
        {"last covered byte", true, 0x7F, 32 + 776 - 1, 1, CARD_STATUS_BAD_CRC},
        {"fetch channel byte", false, 0, CHANNEL, 3, CARD_STATUS_BAD_CHANNEL},
        {"fetch magic", false, 0, MAGIC, 0x20, CARD_STATUS_BAD_MAGIC},
        {"fetch length of mode 0x01", false, 0, LENGTH, 352 ^ 384, CARD_STATUS_BAD_LENGTH},
        {"fetch after refusals", false, 0, 0, 0, CARD_STATUS_OK},
    };
    Sandbox box;
    uint32_t seed = 0;
    for (const auto &c : cases) {
        ResourceTemplate sent = c.store ? store_request(c.mode, ++seed) : fetch_request();
        reinterpret_cast<uint8_t *>(&sent)[c.at] ^= c.mask;
        std::optional<ResourceTemplate> before = box.card_template();
        // A good fetch answers the card's record; anything else answers the
        // request with its status byte set. Only a good store changes the card.
        bool good = c.status == CARD_STATUS_OK;
        EXPECT_EQ(probe(box, {"zorvi0", c.store ? "store" : "fetch", file_of(box, sent)}),
                  answered(good && !c.store ? *before : sent, c.status))
            << c.what;
        std::optional<ResourceTemplate> after = box.card_template();
        ASSERT_TRUE(after.has_value()) << c.what;
        EXPECT_EQ(bytes_of(*after), bytes_of(good && c.store ? sent : *before)) << c.what;
    }
}

TEST(CardService, InjectedFaultsHitOnlyTheirKind)
{
    Sandbox box;
    const ResourceTemplate kept = store_request(0x01, 3);
    const std::string fetch = file_of(box, fetch_request());
    const std::vector<std::vector<std::string>> requests = {
        {"zorvi0", "version"},
        {"zorvi0", "pcidid"},
        {"zorvi0", "fetch", fetch},
        {"zorvi0", "store", file_of(box, kept)}};

    box.fail_open(true);
    EXPECT_EQ(probe(box, {"zorvi0", "version"}), "open failed errno=2\n");
    box.fail_open(false);
    for (const std::string failing : {"version", "pcidid", "fetch", "store", "all"}) {
        box.fail_ioctl(failing);
        for (const auto &request : requests) {
            std::string out = probe(box, request);
            if (failing == "all" || failing == request[1]) {
                EXPECT_EQ(out, refused(EIO)) << failing << " " << request[1];
            } else {
                EXPECT_EQ(out.substr(0, 19), "rc=0 errno=0 reply=") << failing << " " << request[1];
            }
        }
        box.fail_ioctl(failing, false);
    }
    EXPECT_EQ(bytes_of(*box.card_template()), bytes_of(kept));

    box.answer_status("store", 0x42);
    const ResourceTemplate other = store_request(0x02, 4);
    EXPECT_EQ(probe(box, {"zorvi0", "store", file_of(box, other)}), answered(other, 0x42));
    EXPECT_EQ(probe(box, {"zorvi0", "fetch", fetch}), answered(kept));
    box.answer_status("store", 0);
    box.answer_status("all", 0x05);
    EXPECT_EQ(probe(box, {"zorvi0", "fetch", fetch}), answered(fetch_request(), 0x05));
    EXPECT_EQ(probe(box, {"zorvi0", "pcidid"}), answered("\x10\x33")) << "queries carry no status";
    box.answer_status("all", 0);
    EXPECT_EQ(probe(box, {"zorvi0", "fetch", fetch}), answered(kept));
    EXPECT_THROW(box.answer_status("version", 1), std::exception);
    EXPECT_THROW(box.fail_ioctl("fetches"), std::exception);
}

// A journal entry in one line, the name's zero padding shown as dots.
std::string seen(const zorvitest::SimRequest &r)
{
    std::string name = r.device_name;
    std::replace(name.begin(), name.end(), '\0', '.');
    char line[256];
    snprintf(line, sizeof(line),
             "request=%#lx flags=%#x name=%s module=%u command=%#x in=%u out=%u dev_id=%d "
             "reserved=%u same=%d result=%d data=%zu",
             r.ioctl_request, r.open_flags, name.c_str(), r.module, r.command, r.in_size,
             r.out_size, r.dev_id, r.reserved, r.same_buffer, r.result, r.data.size());
    return line;
}

TEST(CardService, JournalShowsRequestsAsTheyArrived)
{
    Sandbox box;
    const ResourceTemplate record = store_request(0x7F, 5);
    probe(box, {"zorvi0", "store", file_of(box, record)});
    probe(box, {"--split", "1", "--flags", "0x80002", "zorvi0", "version"});  // O_RDWR | O_CLOEXEC
    probe(box, {"--request", "0x5401", "zorvi0", "version"});
    box.fail_open(true);
    probe(box, {"zorvi0", "pcidid"});

    std::vector<zorvitest::SimRequest> requests = box.requests();
    std::vector<std::string> lines;
    std::transform(requests.begin(), requests.end(), std::back_inserter(lines), seen);
    EXPECT_EQ(lines, std::vector<std::string>({
                         "request=0x7818 flags=0x2 name=zorvi0.......... module=4 command=0x16800 "
                         "in=1024 out=1024 dev_id=0 reserved=0 same=1 result=0 data=1024",
                         "request=0x7818 flags=0x80002 name=zorvi0.......... module=2 command=0x10 "
                         "in=4 out=128 dev_id=0 reserved=0 same=0 result=0 data=4",
                         // Refused before the message is read.
                         "request=0x5401 flags=0x2 name=................ module=0 command=0 in=0 "
                         "out=0 dev_id=0 reserved=0 same=1 result=-1 data=0",
                     }));
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(std::string(requests[0].data.begin(), requests[0].data.end()), bytes_of(record));
    EXPECT_EQ(requests[1].data, std::vector<uint8_t>(4, 0));
    EXPECT_EQ(box.opens(), 3) << "the refused open is not counted";
    EXPECT_EQ(box.closes(), 3);
}

TEST(CardService, EveryOpenAndSystemLogEntryPointIsServed)
{
    Sandbox box;
    for (const char *entry : {"open", "open64", "openat", "openat64", "__open_2", "__open64_2",
                              "__openat_2", "__openat64_2"}) {
        EXPECT_EQ(probe(box, {"--via", entry, "zorvi0", "pcidid"}), answered("\x10\x33")) << entry;
    }
    EXPECT_EQ(box.requests().size(), 8u);

    // The fortified build calls the checked forms of open and syslog. After
    // closelog the C library's defaults apply: the program's name, LOG_USER.
    const std::string message = "[2024-03-05 14:07:09] [zorviconfig 100%s\nx] [FAILED<-1>].";
    for (std::string program : {SIM_PROBE_PATH, SIM_PROBE_FORTIFIED_PATH}) {
        Sandbox logged;
        EXPECT_EQ(probe(logged, {"zorvi0", "pcidid"}, program), answered("\x10\x33")) << program;
        probe(logged, {"--syslog", "zorviadm", message}, program);
        std::vector<std::string> entries;
        for (const zorvitest::SyslogEntry &e : logged.syslog()) {
            entries.push_back(e.identity + " " + std::to_string(e.option) + " " +
                              std::to_string(e.facility) + " " + std::to_string(e.priority) + " " +
                              e.message);
        }
        // identity, option (3: LOG_PID | LOG_CONS), facility (8: user, 24: daemon), priority
        std::string name = program.substr(program.rfind('/') + 1);
        EXPECT_EQ(entries, std::vector<std::string>({
                               "zorviadm 3 8 6 " + message,
                               "zorviadm 3 24 4 count 2 of two",
                               name + " 0 8 3 after close",
                           }));
    }
}

TEST(CardService, ConcurrentStoresNeverMixRecords)
{
    Sandbox box;
    const ResourceTemplate stores[] = {store_request(0x7F, 11), store_request(0x7F, 22)};
    const ResourceTemplate requests[] = {stores[0], stores[1], fetch_request()};
    box.set_card_template("zorvi0", stores[1]);  // the card is never empty
    std::vector<zorvitest::SimProcess> processes;
    for (const ResourceTemplate &record : requests) {
        processes.push_back(
            box.start_command({SIM_PROBE_PATH, "--repeat", "300", "zorvi0",
                               record.flags != 0 ? "store" : "fetch", file_of(box, record)}));
        ASSERT_TRUE(processes.back().wait_for_output("ready\n"));
    }
    for (zorvitest::SimProcess &process : processes) {
        process.close_input();  // all three set off at once
    }
    // Every reply is a whole record: the store's own, or on a fetch either one.
    const std::string whole[] = {answered(stores[0]), answered(stores[1])};
    for (size_t i = 0; i < processes.size(); ++i) {
        std::istringstream lines(processes[i].wait().out);
        std::string line;
        std::getline(lines, line);  // ready
        size_t count = 0;
        for (; std::getline(lines, line); ++count) {
            line += "\n";
            ASSERT_TRUE(i < 2 ? line == whole[i] : line == whole[0] || line == whole[1])
                << "process " << i << ", reply " << count;
        }
        EXPECT_EQ(count, 300u);
    }
    std::string kept = bytes_of(*box.card_template());
    EXPECT_TRUE(kept == bytes_of(stores[0]) || kept == bytes_of(stores[1]));
}

}  // namespace
