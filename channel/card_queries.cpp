#include "channel/card_queries.h"

#include <cerrno>

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
    int32_t status = get_driver_version(target, text);
    text[DRIVER_VERSION_SIZE - 1] = '\0';  // a full reply has no terminator of its own
    if (status == 0 && text[0] == '\0') {
        answer->step = IDENTITY_NO_VERSION;
        status = STATUS_FAILED;
    } else if (status == 0) {
        answer->step = IDENTITY_BAD_VERSION;
        status = parse_driver_version_text(text, answer->card.driver_version);
        if (status == 0 && driver_reports_pci_id(&answer->card)) {
            answer->step = IDENTITY_PCI_ID_REQUEST;
            errno = 0;
            status = get_pci_device_id(target, &answer->card.pci_device_id);
        }
    }
    answer->error = errno;
    answer->status = status;
    answer->step = status == 0 ? IDENTITY_KNOWN : answer->step;
    return status;
}
