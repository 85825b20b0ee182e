#include "zorvitemplate/card.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "channel/card_queries.h"
#include "channel/device_target.h"
#include "channel/template_exchange.h"
#include "channel/tool_message.h"

DeviceTarget g_device_target{-1, {}};

namespace {

// Words for a status of the channel; `error` is errno just after the call.
void explain_status(char (&why)[CARD_TROUBLE_SIZE], const char *asking, int32_t status, int error)
{
    const char *device = g_device_target.name;
    if (status == STATUS_NO_DEVICE) {
        snprintf(why, sizeof(why), "%s: %s: the tool device %s cannot be opened (%s)", device,
                 asking, TOOL_DEVICE_PATH, strerror(error));
    } else if (status > 0) {
        snprintf(why, sizeof(why), "%s: %s: the card answered status %d", device, asking, status);
    } else if (status == STATUS_FAILED && error != 0) {
        snprintf(why, sizeof(why), "%s: %s: the request failed (%s)", device, asking,
                 strerror(error));
    } else {
        snprintf(why, sizeof(why), "%s: %s: the driver gave no usable answer (status %d)", device,
                 asking, status);
    }
}

}  // namespace

bool select_device(const char *name)
{
    if (!device_name_fits(name)) {
        return false;
    }
    g_device_target = DeviceTarget{0, {}};
    memcpy(g_device_target.name, name, strlen(name));
    return true;
}

bool ask_card_identity(CardIdentity *card, char (&why)[CARD_TROUBLE_SIZE])
{
    *card = CardIdentity{};
    char text[DRIVER_VERSION_SIZE] = {};
    errno = 0;
    int32_t status = get_driver_version(g_device_target, text);
    text[sizeof(text) - 1] = '\0';  // a full reply has no terminator of its own
    const char *asking = "cannot read the driver's version";
    if (status == 0 &&
        (text[0] == '\0' || parse_driver_version_text(text, card->driver_version) != 0)) {
        snprintf(why, sizeof(why), "%s: %s: %s", g_device_target.name, asking,
                 text[0] == '\0' ? "the driver gave no version text"
                                 : "the driver's answer is no version number");
        return false;
    }
    if (status == 0 && driver_reports_pci_id(card)) {
        asking = "cannot read the card's PCI device id";
        status = get_pci_device_id(g_device_target, &card->pci_device_id);
    }
    if (status != 0) {
        explain_status(why, asking, status, errno);
    }
    return status == 0;
}

int32_t fetch_card_template(ResourceTemplate *record, char (&why)[CARD_TROUBLE_SIZE])
{
    errno = 0;
    const int32_t status = get_template_from_card(g_device_target, record);
    if (status != 0) {
        explain_status(why, "cannot fetch the card's template", status, errno);
    }
    return status;
}
