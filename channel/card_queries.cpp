#include "channel/card_queries.h"

namespace {

// Module 2 requests carry no status byte: the transport result is the answer.
int32_t ask_driver(const DeviceTarget &target, uint32_t command, uint32_t in_size,
                   uint32_t out_size, void *buffer)
{
    if (buffer == nullptr) {
        return STATUS_BAD_ARGUMENT;
    }
    ToolMessage message{};
    fill_tool_message(&message, QUERY_MODULE, command, in_size, out_size, target.name, target.id);
    message.in_buf = buffer;
    return send_tool_message(&message, buffer);
}

}  // namespace

int32_t get_driver_version(DeviceTarget target, char *version)
{
    return ask_driver(target, DRIVER_VERSION_CMD, DRIVER_VERSION_IN_SIZE, DRIVER_VERSION_SIZE,
                      version);
}

int32_t get_pci_device_id(DeviceTarget target, uint32_t *device_id)
{
    return ask_driver(target, PCI_DEVICE_ID_CMD, PCI_DEVICE_ID_SIZE, PCI_DEVICE_ID_SIZE, device_id);
}
