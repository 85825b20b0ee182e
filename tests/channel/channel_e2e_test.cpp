// The channel's requests as the simulated driver receives them, sent by a
// small probe program run inside the sandbox.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "channel/tool_message.h"
#include "template/resource_template.h"
#include "tests/harness/sandbox.h"

namespace {

using zorvitest::RunOptions;
using zorvitest::RunResult;
using zorvitest::Sandbox;
using zorvitest::SimRequest;
using Bytes = std::vector<uint8_t>;

const std::string OPEN_FAILED = "Fail to open: /dev/nictool_dev\nCreate file err!\n";
const std::string ZORVI0_FIELD = std::string("zorvi0") + std::string(10, '\0');

// Bit by bit, MSB first: independent of the channel's table.
uint32_t bitwise_crc32(const uint8_t *data, size_t length)
{
    uint32_t reg = 0;
    for (size_t i = 0; i < length; ++i) {
        reg ^= static_cast<uint32_t>(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x80000000u) ? (reg << 1) ^ 0x04C11DB7u : reg << 1;
        }
    }
    return ~reg;
}

uint32_t word_at(const Bytes &data, size_t offset)
{
    return static_cast<uint32_t>(data.at(offset)) | static_cast<uint32_t>(data.at(offset + 1)) << 8 |
           static_cast<uint32_t>(data.at(offset + 2)) << 16 |
           static_cast<uint32_t>(data.at(offset + 3)) << 24;
}

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

Bytes expected_fetch_request()
{
    Bytes data(TEMPLATE_SIZE, 0);
    data[2] = 3;
    std::memcpy(&data[12], "ZZZZ", 4);
    data[16] = 0x60;  // 352, little-endian
    data[17] = 0x01;
    return data;
}

class ChannelOnSimulatedCard : public testing::Test {
protected:
    Sandbox sandbox;

    RunResult probe(const std::vector<std::string> &ops, const std::string &device = "zorvi0")
    {
        std::vector<std::string> argv{CHANNEL_PROBE_PATH, device};
        argv.insert(argv.end(), ops.begin(), ops.end());
        RunOptions options;
        options.no_input = true;
        return sandbox.run_command(argv, options);
    }

    void put_record(const ResourceTemplate &record)
    {
        std::ofstream file(sandbox.opt("record.bin"), std::ios::binary);
        file.write(reinterpret_cast<const char *>(&record), sizeof(record));
    }

    Bytes opt_file(const std::string &name) const
    {
        std::ifstream file(sandbox.opt(name), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(file), {});
    }

    // The transport's promises, common to every request.
    static void expect_transport(const SimRequest &request, const std::string &name_field)
    {
        EXPECT_EQ(request.device_name, name_field);
        EXPECT_EQ(request.dev_id, 0);
        EXPECT_EQ(request.reserved, 0u);
        EXPECT_TRUE(request.same_buffer);
        EXPECT_EQ(request.open_flags, O_RDWR);
        EXPECT_EQ(request.ioctl_request, 0x7818);
        EXPECT_EQ(request.data.size(), request.in_size);
    }
};

TEST_F(ChannelOnSimulatedCard, FetchRequestReachesTheDriverByteForByte)
{
    const ResourceTemplate stored = patterned_record(0x7F);
    sandbox.set_card_template("zorvi0", stored);

    const RunResult run = probe({"fetch"});
    EXPECT_EQ(run.out, "fetch 0\n");
    EXPECT_EQ(run.exit_status, 0);

    const std::vector<SimRequest> requests = sandbox.requests();
    ASSERT_EQ(requests.size(), 1u);
    const SimRequest &request = requests[0];
    expect_transport(request, ZORVI0_FIELD);
    EXPECT_EQ(request.module, 4u);
    EXPECT_EQ(request.command, 0x16800u);
    EXPECT_EQ(request.in_size, 1024u);
    EXPECT_EQ(request.out_size, 1024u);
    EXPECT_EQ(request.data, expected_fetch_request());

    // The reply lands whole in the caller's record.
    const Bytes fetched = opt_file("fetched.bin");
    EXPECT_EQ(fetched, bytes_of(stored));
}

TEST_F(ChannelOnSimulatedCard, StoreCarriesLengthAndChecksumOfTheModeBlocks)
{
    struct Row {
        uint32_t mode;
        uint32_t length;
    };
    const Row rows[] = {{0x00, 352}, {0x05, 708}, {0x0B, 712},
                        {0x18, 708}, {0x7F, 776}, {0x80, 352}};
    size_t sent_so_far = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "mode 0x" << std::hex << row.mode);
        const ResourceTemplate record = patterned_record(row.mode);
        put_record(record);
        EXPECT_EQ(probe({"store"}).out, "store 0\n");

        const std::vector<SimRequest> requests = sandbox.requests();
        ASSERT_EQ(requests.size(), ++sent_so_far);
        const SimRequest &request = requests.back();
        expect_transport(request, ZORVI0_FIELD);
        EXPECT_EQ(request.module, 4u);
        EXPECT_EQ(request.command, 0x16800u);
        EXPECT_EQ(request.in_size, 1024u);
        EXPECT_EQ(request.out_size, 1024u);
        ASSERT_EQ(request.data.size(), TEMPLATE_SIZE);

        const Bytes sent = request.data;
        const Bytes original = bytes_of(record);
        EXPECT_EQ(word_at(sent, 8), record.flags | 1u);  // other flag bits carried over
        EXPECT_EQ(std::string(sent.begin() + 12, sent.begin() + 16), "ZZZZ");
        EXPECT_EQ(word_at(sent, 16), row.length);
        EXPECT_EQ(word_at(sent, 20), bitwise_crc32(&original[32], row.length));
        EXPECT_EQ(sent[2], 3);
        // Everything else goes out as the caller left it.
        for (size_t i = 0; i < TEMPLATE_SIZE; ++i) {
            if (i == 2 || (i >= 8 && i < 24)) {
                continue;
            }
            ASSERT_EQ(sent[i], original[i]) << "offset " << i;
        }
    }
}

TEST_F(ChannelOnSimulatedCard, StoreLeavesTheCallersRecordAlone)
{
    ResourceTemplate record = patterned_record(0x0B);
    record.channel_byte = 0x77;  // the channel writes 3 into its own copy only
    put_record(record);

    EXPECT_EQ(probe({"store"}).out, "store 0\n");
    EXPECT_EQ(opt_file("after.bin"), bytes_of(record));
    const auto card = sandbox.card_template();
    ASSERT_TRUE(card.has_value());
    const Bytes stored = bytes_of(*card);
    const Bytes original = bytes_of(record);
    EXPECT_TRUE(std::equal(stored.begin() + 24, stored.end(), original.begin() + 24));
}

TEST_F(ChannelOnSimulatedCard, QueriesAskModuleTwoAndLandWhereTheyShould)
{
    sandbox.add_card("zorvi1", 0xBEEF);
    const RunResult run0 = probe({"version", "pcidid"});
    EXPECT_EQ(run0.out, "version 0\npcidid 0 0x00001822\n");
    Bytes version(DRIVER_VERSION_SIZE, 0);
    std::memcpy(version.data(), "1.4.3.0", 7);
    EXPECT_EQ(opt_file("version.bin"), version);

    EXPECT_EQ(probe({"pcidid"}, "zorvi1").out, "pcidid 0 0x0000beef\n");

    const std::vector<SimRequest> requests = sandbox.requests();
    ASSERT_EQ(requests.size(), 3u);
    expect_transport(requests[0], ZORVI0_FIELD);
    EXPECT_EQ(requests[0].module, 2u);
    EXPECT_EQ(requests[0].command, 16u);
    EXPECT_EQ(requests[0].in_size, 4u);
    EXPECT_EQ(requests[0].out_size, 128u);
    EXPECT_EQ(requests[0].data, Bytes(4, 0));
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(requests[i].module, 2u);
        EXPECT_EQ(requests[i].command, 29u);
        EXPECT_EQ(requests[i].in_size, 2u);
        EXPECT_EQ(requests[i].out_size, 2u);
        EXPECT_EQ(requests[i].data, Bytes(2, 0));
    }
    expect_transport(requests[1], ZORVI0_FIELD);
    expect_transport(requests[2], std::string("zorvi1") + std::string(10, '\0'));
}

TEST_F(ChannelOnSimulatedCard, VersionReplyFillingTheWholeBufferStaysInIt)
{
    const std::string reply(DRIVER_VERSION_SIZE, '7');
    sandbox.set_driver_version(reply);
    EXPECT_EQ(probe({"version"}).out, "version 0\n");
    EXPECT_EQ(opt_file("version.bin"), Bytes(reply.begin(), reply.end()));
}

TEST_F(ChannelOnSimulatedCard, ChannelByteOnlyForModuleFourCommandsOfUpperHalfOne)
{
    // The byte is written before the device is opened; with no device the
    // request data stays in the caller's buffer for inspection, and commands
    // the driver does not know are never sent.
    sandbox.fail_open(true);
    struct Row {
        const char *op;
        const char *data;
    };
    const Row rows[] = {
        {"send:4:0x16800", "eeee03ee"}, {"send:4:0x10000", "eeee03ee"},
        {"send:4:0x1FFFF", "eeee03ee"}, {"send:4:0x26800", "eeeeeeee"},
        {"send:4:0x6800", "eeeeeeee"},  {"send:4:0x10016800", "eeeeeeee"},
        {"send:2:0x16800", "eeeeeeee"}, {"send:2:16", "eeeeeeee"},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(probe({row.op}).out, OPEN_FAILED + "send -2 " + row.data + "\n") << row.op;
    }
}

TEST_F(ChannelOnSimulatedCard, DeviceIsOpenedAndClosedAroundEveryRequest)
{
    ResourceTemplate record = patterned_record(0x05);
    record.channel_byte = 0;
    put_record(record);
    sandbox.set_card_template("zorvi0", record);

    EXPECT_EQ(probe({"version", "pcidid", "fetch", "store", "fetch"}).out,
              "version 0\npcidid 0 0x00001822\nfetch 0\nstore 0\nfetch 0\n");
    const std::vector<SimRequest> requests = sandbox.requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(sandbox.opens(), 5);
    EXPECT_EQ(sandbox.closes(), 5);
    for (const SimRequest &request : requests) {
        expect_transport(request, ZORVI0_FIELD);
        ASSERT_FALSE(request.data.empty());
        if (request.module == 4) {
            EXPECT_EQ(request.data[2], 3);
        } else {
            EXPECT_EQ(request.data, Bytes(request.in_size, 0));
        }
    }
}

TEST_F(ChannelOnSimulatedCard, CardStatusIsPassedUpAndNothingIsWritten)
{
    const ResourceTemplate record = patterned_record(0x7F);
    put_record(record);
    sandbox.answer_status("fetch", 5);
    sandbox.answer_status("store", 5);

    EXPECT_EQ(probe({"fetch", "store"}).out, "fetch 5\nstore 5\n");
    EXPECT_EQ(opt_file("fetched.bin"), Bytes(TEMPLATE_SIZE, 0xA5));
    EXPECT_EQ(opt_file("after.bin"), bytes_of(record));
    EXPECT_FALSE(sandbox.card_template().has_value());
}

TEST_F(ChannelOnSimulatedCard, FailedIoctlIsPassedUp)
{
    put_record(patterned_record(0x00));
    sandbox.fail_ioctl("all");

    EXPECT_EQ(probe({"version", "pcidid", "fetch", "store"}).out,
              "version -1\npcidid -1 0x00000000\nfetch -1\nstore -1\n");
    EXPECT_EQ(opt_file("fetched.bin"), Bytes(TEMPLATE_SIZE, 0xA5));
    EXPECT_EQ(sandbox.opens(), 4);
    EXPECT_EQ(sandbox.closes(), 4);
    EXPECT_FALSE(sandbox.card_template().has_value());

    // A store looks at the status byte of its buffer before the transport.
    ResourceTemplate record = patterned_record(0x00);
    record.status = 9;
    put_record(record);
    EXPECT_EQ(probe({"store"}).out, "store 9\n");
}

TEST_F(ChannelOnSimulatedCard, MissingToolDeviceIsReportedOnEveryRequest)
{
    put_record(patterned_record(0x00));
    sandbox.fail_open(true);

    EXPECT_EQ(probe({"version", "pcidid", "fetch", "store"}).out,
              OPEN_FAILED + "version -2\n" + OPEN_FAILED + "pcidid -2 0x00000000\n" + OPEN_FAILED +
                  "fetch -2\n" + OPEN_FAILED + "store -2\n");
    EXPECT_EQ(opt_file("fetched.bin"), Bytes(TEMPLATE_SIZE, 0xA5));
    EXPECT_TRUE(sandbox.requests().empty());
    EXPECT_EQ(sandbox.closes(), 0);
}

}  // namespace
