#include "tests/harness/fake_card.h"

#include <algorithm>
#include <cstring>

#include "channel/card_queries.h"
#include "channel/tool_message.h"

namespace zorvitest {
FakeCard g_fake_card;
}

using zorvitest::g_fake_card;

int32_t get_driver_version(DeviceTarget, char *version)
{
    ++g_fake_card.version_queries;
    if (g_fake_card.version_status != 0) {
        return g_fake_card.version_status;
    }
    memcpy(version, g_fake_card.version_reply.data(),
           std::min<size_t>(g_fake_card.version_reply.size(), DRIVER_VERSION_SIZE));
    return 0;
}

int32_t get_pci_device_id(DeviceTarget, uint32_t *device_id)
{
    ++g_fake_card.pci_queries;
    if (g_fake_card.pci_status != 0) {
        return g_fake_card.pci_status;
    }
    *device_id = g_fake_card.pci_device_id & 0xFFFF;
    return 0;
}
