// The channel's requests as the simulated driver receives them, sent by a
// small probe program run inside the sandbox.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "channel/tool_message.h"
#include "template/resource_template.h"
#include "tests/harness/sandbox.h"
#include "tests/harness/test_util.h"

namespace {

using zorvitest::Sandbox;
using zorvitest::SimRequest;
using Bytes = std::vector<uint8_t>;

const std::string OPEN_FAILED = "Fail to open: /dev/nictool_dev\nCreate file err!\n";

Bytes bytes_of(const ResourceTemplate &record)
{
    const auto *p = reinterpret_cast<const uint8_t *>(&record);
    return Bytes(p, p + sizeof(record));
}

// Every byte nonzero and distinct from its neighbours, so that a wrong
// length or offset changes the checksum; status 0 as the parser leaves it.
ResourceTemplate patterned_record(uint32_t mode)
{
    ResourceTemplate record{};
    auto *p = reinterpret_cast<uint8_t *>(&record);
    for (size_t i = 0; i < sizeof(record); ++i) {
        p[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    record.status = 0;
    record.mode = mode;
    return record;
}

std::string probe(Sandbox &box, std::vector<std::string> ops, const std::string &device = "zorvi0")
{
    ops.insert(ops.begin(), {CHANNEL_PROBE_PATH, device});
    zorvitest::RunOptions options;
    options.no_input = true;
    return box.run_command(ops, options).out;
}

void put_record(const Sandbox &box, const ResourceTemplate &record)
{
    zorvitest::write_file(box.opt("record.bin"),
                          std::string(reinterpret_cast<const char *>(&record), sizeof(record)));
}

Bytes opt_file(const Sandbox &box, const std::string &name)
{
    const std::string text = zorvitest::read_file(box.opt(name));
    return Bytes(text.begin(), text.end());
}

// One request as the driver must see it, with the transport's own promises
// that hold for every request.
void expect_request(const SimRequest &request, uint32_t module, uint32_t command, uint32_t in_size,
                    uint32_t out_size, const Bytes &data, const char *name = "zorvi0")
{
    EXPECT_EQ(request.module, module);
    EXPECT_EQ(request.command, command);
    EXPECT_EQ(request.in_size, in_size);
    EXPECT_EQ(request.out_size, out_size);
    EXPECT_EQ(request.data, data);
    EXPECT_EQ(request.device_name, std::string(name) + std::string(16 - strlen(name), '\0'));
    EXPECT_EQ(request.dev_id, 0);
    EXPECT_EQ(request.reserved, 0u);
    EXPECT_TRUE(request.same_buffer);
    EXPECT_EQ(request.open_flags, O_RDWR);
    EXPECT_EQ(request.ioctl_request, 0x7818);
}

TEST(ChannelOnSimulatedCard, FetchAndQueriesReachTheDriverByteForByte)
{
    Sandbox box;
    box.add_card("zorvi1", 0xBEEF);
    const ResourceTemplate stored = patterned_record(0x7F);
    box.set_card_template("zorvi0", stored);
    EXPECT_EQ(probe(box, {"version", "pcidid", "fetch"}),
              "version 0\npcidid 0 0x00003310\nfetch 0\n");
    EXPECT_EQ(probe(box, {"pcidid"}, "zorvi1"), "pcidid 0 0x0000beef\n");

    ResourceTemplate fetch{};  // a header on zeros: the card fills the rest
    fetch.channel_byte = 3;
    std::memcpy(fetch.magic, "ZZZZ", 4);
    fetch.length = 352;
    const std::vector<SimRequest> requests = box.requests();
    ASSERT_EQ(requests.size(), 4u);
    expect_request(requests[0], 2, 16, 4, 128, Bytes(4, 0));
    expect_request(requests[1], 2, 29, 2, 2, Bytes(2, 0));
    expect_request(requests[2], 4, 0x16800, 1024, 1024, bytes_of(fetch));
    expect_request(requests[3], 2, 29, 2, 2, Bytes(2, 0), "zorvi1");
    // Opened and closed around every request.
    EXPECT_EQ(box.opens(), 4);
    EXPECT_EQ(box.closes(), 4);
    // The replies land whole in the caller's buffers.
    EXPECT_EQ(opt_file(box, "fetched.bin"), bytes_of(stored));
    Bytes version(DRIVER_VERSION_SIZE, 0);
    std::memcpy(version.data(), "1.4.3.0", 7);
    EXPECT_EQ(opt_file(box, "version.bin"), version);
}

TEST(ChannelOnSimulatedCard, StoreCarriesLengthAndChecksumOfTheModeBlocks)
{
    const struct {
        uint32_t mode;
        uint32_t length;
    } rows[] = {{0x00, 352}, {0x05, 708}, {0x0B, 712}, {0x18, 708}, {0x7F, 776}, {0x80, 352}};
    Sandbox box;
    size_t sent_so_far = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "mode 0x" << std::hex << row.mode);
        const ResourceTemplate record = patterned_record(row.mode);
        put_record(box, record);
        EXPECT_EQ(probe(box, {"store"}), "store 0\n");
        const std::vector<SimRequest> requests = box.requests();
        ASSERT_EQ(requests.size(), ++sent_so_far);
        // The channel's header on the caller's bytes, and the caller's
        // record (channel byte included) left as it was.
        ResourceTemplate sent = record;
        sent.channel_byte = 3;
        sent.flags |= 1u;  // other flag bits carried over
        std::memcpy(sent.magic, "ZZZZ", 4);
        sent.length = row.length;
        sent.crc = zorvitest::reference_crc32(&bytes_of(record)[TEMPLATE_BODY_OFFSET], row.length);
        expect_request(requests.back(), 4, 0x16800, 1024, 1024, bytes_of(sent));
        EXPECT_EQ(opt_file(box, "after.bin"), bytes_of(record));
    }
    EXPECT_EQ(box.opens(), 6);
    EXPECT_EQ(box.closes(), 6);
}

TEST(ChannelOnSimulatedCard, ChannelByteOnlyForModuleFourCommandsOfUpperHalfOne)
{
    // The byte is written before the device is opened; with no device the
    // request data stays in the caller's buffer for inspection, and commands
    // the driver does not know are never sent.
    Sandbox box;
    box.fail_open(true);
    const struct {
        const char *op;
        const char *data;
    } rows[] = {
        {"send:4:0x16800", "eeee03ee"}, {"send:4:0x10000", "eeee03ee"},
        {"send:4:0x1FFFF", "eeee03ee"}, {"send:4:0x26800", "eeeeeeee"},
        {"send:4:0x6800", "eeeeeeee"},  {"send:4:0x10016800", "eeeeeeee"},
        {"send:2:0x16800", "eeeeeeee"}, {"send:2:16", "eeeeeeee"},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(probe(box, {row.op}), OPEN_FAILED + "send -2 " + row.data + "\n") << row.op;
    }
}

TEST(ChannelOnSimulatedCard, FailuresArePassedUpAndNothingIsWritten)
{
    const struct {
        const char *what;
        void (*fault)(Sandbox &);
        std::string out;
        int opens;
    } faults[] = {
        {"card status 5",
         [](Sandbox &box) {
             box.answer_status("fetch", 5);
             box.answer_status("store", 5);
         },
         "version 0\npcidid 0 0x00003310\nfetch 5\nstore 5\n", 4},
        {"ioctl fails", [](Sandbox &box) { box.fail_ioctl("all"); },
         "version -1\npcidid -1 0x00000000\nfetch -1\nstore -1\n", 4},
        {"no tool device", [](Sandbox &box) { box.fail_open(true); },
         OPEN_FAILED + "version -2\n" + OPEN_FAILED + "pcidid -2 0x00000000\n" + OPEN_FAILED +
             "fetch -2\n" + OPEN_FAILED + "store -2\n",
         0},
    };
    const ResourceTemplate record = patterned_record(0x7F);
    for (const auto &f : faults) {
        SCOPED_TRACE(f.what);
        Sandbox box;
        put_record(box, record);
        f.fault(box);
        EXPECT_EQ(probe(box, {"version", "pcidid", "fetch", "store"}), f.out);
        EXPECT_EQ(opt_file(box, "fetched.bin"), Bytes(TEMPLATE_SIZE, 0xA5));
        EXPECT_EQ(opt_file(box, "after.bin"), bytes_of(record));
        EXPECT_FALSE(box.card_template().has_value());
        EXPECT_EQ(box.opens(), f.opens);
        EXPECT_EQ(box.closes(), f.opens);
    }
    // A store reports the status byte of its buffer before the transport's.
    Sandbox box;
    box.fail_ioctl("all");
    ResourceTemplate refused = patterned_record(0x00);
    refused.status = 9;
    put_record(box, refused);
    EXPECT_EQ(probe(box, {"store"}), "store 9\n");
}

TEST(ChannelOnSimulatedCard, VersionReplyFillingTheWholeBufferStaysInIt)
{
    Sandbox box;
    const std::string reply(DRIVER_VERSION_SIZE, '7');
    box.set_driver_version(reply);
    EXPECT_EQ(probe(box, {"version"}), "version 0\n");
    EXPECT_EQ(opt_file(box, "version.bin"), Bytes(reply.begin(), reply.end()));
}

}  // namespace
