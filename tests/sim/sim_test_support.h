// Helpers for the simulator's tests: run the probe on a sandbox and read its
// replies, and build template records as the tool would send them.
#pragma once

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/card_rules.h"
#include "tests/harness/sandbox.h"

namespace simtest {

struct Reply {
    int rc = 0;
    int error = 0;
    std::string bytes;  // reply buffer, out_size bytes
};

inline std::string unhex(const std::string &text)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

inline std::vector<Reply> parse_replies(const std::string &out)
{
    std::vector<Reply> replies;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        Reply reply;
        char hex[4096] = {};
        if (sscanf(line.c_str(), "rc=%d errno=%d reply=%4095s", &reply.rc, &reply.error, hex) >= 2) {
            reply.bytes = unhex(hex);
            replies.push_back(reply);
        }
    }
    return replies;
}

inline zorvitest::RunResult probe(zorvitest::Sandbox &box, std::vector<std::string> args,
                                  const char *program = SIM_PROBE_PATH)
{
    args.insert(args.begin(), program);
    return box.run_command(args);
}

// One request; its single reply.
inline Reply ask(zorvitest::Sandbox &box, const std::vector<std::string> &args)
{
    zorvitest::RunResult result = probe(box, args);
    std::vector<Reply> replies = parse_replies(result.out);
    return replies.size() == 1 ? replies[0] : Reply {-100, 0, result.out + result.err};
}

inline std::string bytes_of(const ResourceTemplate &record)
{
    return std::string(reinterpret_cast<const char *>(&record), sizeof(record));
}

// A store request as the tool sends it, with recognisable contents.
inline ResourceTemplate store_request(uint32_t mode, uint32_t seed)
{
    ResourceTemplate record {};
    record.mode = mode;
    record.HN = seed % 4;
    record.PH = 0xA5000000u | seed;
    for (uint32_t pf = 0; pf < PF_COUNT; ++pf) {
        record.QPNP[pf] = seed * 16 + pf;
        record.OVNP[pf] = static_cast<uint16_t>(pf + seed);
    }
    snprintf(record.MODENAME, sizeof(record.MODENAME), "mode-%u", seed);
    record.channel_byte = CARD_CHANNEL_BYTE;
    record.flags = 1;
    memcpy(record.magic, "ZZZZ", 4);
    record.length = card_covered_length(mode);
    record.crc = card_crc32(reinterpret_cast<const uint8_t *>(&record) + TEMPLATE_BODY_OFFSET,
                            record.length);
    return record;
}

inline std::string write_request(zorvitest::Sandbox &box, const std::string &name,
                                 const ResourceTemplate &record)
{
    std::string path = box.dir() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes_of(record);
    return path;
}

}  // namespace simtest
