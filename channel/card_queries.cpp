#include "channel/card_queries.h"

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
