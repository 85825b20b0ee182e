#include "zorvitemplate/card.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "channel/card_queries.h"
#include "channel/device_target.h"
#include "channel/template_exchange.h"
#include "channel/tool_message.h"
#include "zorvitemplate/output.h"

DeviceTarget g_device_target{-1, {}};
CardDevices g_cards;

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

int find_cards()
{
    const int32_t found = find_card_devices(&g_cards);
    if (g_cards.more) {
        warn("more than %zu devices of the %s driver: the rest are not listed", CARD_DEVICES_MOST,
             CARD_DRIVER);
    }
    return found;
}

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
    IdentityAnswer answer;
    query_card_identity(g_device_target, &answer);
    *card = answer.card;
    const char *asking = answer.step == IDENTITY_PCI_ID_REQUEST
                             ? "cannot read the card's PCI device id"
                             : "cannot read the driver's version";
    if (answer.step == IDENTITY_NO_VERSION || answer.step == IDENTITY_BAD_VERSION) {
        snprintf(why, sizeof(why), "%s: %s: %s", g_device_target.name, asking,
                 answer.step == IDENTITY_NO_VERSION ? "the driver gave no version text"
                                                    : "the driver's answer is no version number");
    } else if (answer.step != IDENTITY_KNOWN) {
        explain_status(why, asking, answer.status, answer.error);
    }
    return answer.step == IDENTITY_KNOWN;
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
