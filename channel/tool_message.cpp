#include "channel/tool_message.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

namespace {

// Byte of the request data that the driver expects to hold 3 on every
// module 4 request whose command has upper half 1.
constexpr uint32_t CHANNEL_BYTE_OFFSET = 2;
constexpr uint8_t CHANNEL_BYTE_VALUE = 3;
constexpr uint16_t CHANNEL_COMMAND_GROUP = 1;

void fill_tool_message(ToolMessage *message, uint32_t module, uint32_t command, uint32_t in_size,
                       uint32_t out_size, const char *device_name, int32_t dev_id)
{
    memset(message->device_name, 0, sizeof(message->device_name));
    // A name with no room for its terminator is never cut down to another
    // device's: the record stays empty, and the driver refuses it. Both
    // programs refuse such a name before they get here.
    const size_t name_length = device_name != nullptr
                                   ? strnlen(device_name, sizeof(message->device_name))
                                   : sizeof(message->device_name);
    if (name_length == sizeof(message->device_name)) {
        return;
    }
    memcpy(message->device_name, device_name, name_length);
    message->module = module;
    message->command = command;
    message->in_size = in_size;
    message->out_size = out_size;
    message->dev_id = dev_id;
}

int32_t open_tool_device()
{
    const int fd = open(TOOL_DEVICE_PATH, O_RDWR);
    return fd < 0 ? STATUS_NO_DEVICE : fd;
}

void close_tool_device(int32_t fd)
{
    if (fd >= 0) {
        close(fd);
    }
}

int32_t tool_ioctl(int32_t fd, ToolMessage *message)
{
    return ioctl(fd, TOOL_IOCTL_CMD, message);
}

}  // namespace

int32_t send_tool_message(ToolMessage *message, void *reply)
{
    message->out_buf = reply;
    // The driver reads bytes 22 and 23 of the record as one 16-bit word. A
    // short or missing request buffer is never written.
    const auto group = static_cast<uint16_t>(message->command >> 16);
    if (message->module == TEMPLATE_MODULE && group == CHANNEL_COMMAND_GROUP &&
        message->in_buf != nullptr && message->in_size > CHANNEL_BYTE_OFFSET) {
        static_cast<uint8_t *>(message->in_buf)[CHANNEL_BYTE_OFFSET] = CHANNEL_BYTE_VALUE;
    }
    const int32_t fd = open_tool_device();
    if (fd < 0) {
        return STATUS_NO_DEVICE;
    }
    const int32_t result = tool_ioctl(fd, message);
    close_tool_device(fd);
    return result;
}

int32_t send_request(const DeviceTarget &target, uint32_t module, uint32_t command,
                     uint32_t in_size, uint32_t out_size, void *buffer)
{
    if (buffer == nullptr) {
        return STATUS_BAD_ARGUMENT;
    }
    ToolMessage message{};
    fill_tool_message(&message, module, command, in_size, out_size, target.name, target.id);
    message.in_buf = buffer;
    return send_tool_message(&message, buffer);
}
