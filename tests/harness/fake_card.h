// In-process stand-in for the two card queries, so the parser's identity
// checks run without a driver. Link fake_card.cpp into the test executable
// itself: its definitions then win over the channel library's.
#pragma once

#include <cstdint>
#include <string>

namespace zorvitest {

struct FakeCard {
    std::string version_reply = "1.4.3.0";  // raw bytes, at most 128
    int32_t version_status = 0;
    uint32_t pci_device_id = 0x3310;
    int32_t pci_status = 0;
    int version_queries = 0;
    int pci_queries = 0;
};

extern FakeCard g_fake_card;

}  // namespace zorvitest
