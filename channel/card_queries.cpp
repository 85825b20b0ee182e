#include "channel/card_queries.h"

#include <cerrno>

namespace {

// Ends the query at `step` when `status` says it failed.
int32_t stop_at(IdentityAnswer *answer, IdentityStep step, int32_t status)
{
    answer->step = status != 0 ? step : IDENTITY_KNOWN;
    answer->status = status;
    return status;
}

}  // namespace

// Module 2 requests carry no status byte: the transport result is the answer.
int32_t get_driver_version(DeviceTarget target, char *version)
{
    return send_request(target, QUERY_MODULE, DRIVER_VERSION_CMD, DRIVER_VERSION_IN_SIZE,
                        DRIVER_VERSION_SIZE, version);
}

int32_t get_pci_device_id(DeviceTarget target, uint32_t *device_id)
{
    return send_request(target, QUERY_MODULE, PCI_DEVICE_ID_CMD, PCI_DEVICE_ID_SIZE,
                        PCI_DEVICE_ID_SIZE, device_id);
}

int32_t query_card_identity(DeviceTarget target, IdentityAnswer *answer)
{
    *answer = IdentityAnswer{};
    char *text = answer->version_text;
    errno = 0;
    const int32_t status = get_driver_version(target, text);
    answer->error = errno;
    // A reply that fills the whole buffer has no terminator of its own.
    text[DRIVER_VERSION_SIZE - 1] = '\0';
    if (status != 0) {
        return stop_at(answer, IDENTITY_VERSION_REQUEST, status);
    }
    if (text[0] == '\0') {
        return stop_at(answer, IDENTITY_NO_VERSION, STATUS_FAILED);
    }
    const int32_t parsed = parse_driver_version_text(text, answer->card.driver_version);
    if (parsed != 0 || !driver_reports_pci_id(&answer->card)) {
        return stop_at(answer, IDENTITY_BAD_VERSION, parsed);
    }
    errno = 0;
    const int32_t asked = get_pci_device_id(target, &answer->card.pci_device_id);
    answer->error = errno;
    return stop_at(answer, IDENTITY_PCI_ID_REQUEST, asked);
}
