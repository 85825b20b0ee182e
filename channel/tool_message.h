// The request record passed to the driver's tool device, and the
// open/ioctl/close transport. Shared with the card simulator.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bounded/status.h"
#include "channel/device_target.h"

constexpr const char *TOOL_DEVICE_PATH = "/dev/nictool_dev";
constexpr unsigned long TOOL_IOCTL_CMD = 0x7800 | 24;  // 0x7818

// Requests this tool sends.
constexpr uint32_t QUERY_MODULE = 2;
constexpr uint32_t DRIVER_VERSION_CMD = 16;
constexpr uint32_t DRIVER_VERSION_SIZE = 128;
constexpr uint32_t DRIVER_VERSION_IN_SIZE = 4;
constexpr uint32_t PCI_DEVICE_ID_CMD = 29;
constexpr uint32_t PCI_DEVICE_ID_SIZE = 2;
constexpr uint32_t TEMPLATE_MODULE = 4;
constexpr uint32_t TEMPLATE_CMD = 0x16800;  // 92160
constexpr uint32_t TEMPLATE_IO_SIZE = 1024;

struct ToolMessage {
    char device_name[16];  // NUL-terminated, zero-filled after it
    uint32_t module;
    uint32_t command;
    uint32_t in_size;
    uint32_t out_size;
    int32_t dev_id;
    uint32_t reserved;  // alignment before the pointers, always 0
    void *in_buf;
    void *out_buf;
};

static_assert(sizeof(void *) == 8, "the driver expects 64-bit pointers");
static_assert(sizeof(ToolMessage) == 56);
static_assert(offsetof(ToolMessage, device_name) == 0);
static_assert(offsetof(ToolMessage, module) == 16);
static_assert(offsetof(ToolMessage, command) == 20);
static_assert(offsetof(ToolMessage, in_size) == 24);
static_assert(offsetof(ToolMessage, out_size) == 28);
static_assert(offsetof(ToolMessage, dev_id) == 32);
static_assert(offsetof(ToolMessage, reserved) == 36);
static_assert(offsetof(ToolMessage, in_buf) == 40);
static_assert(offsetof(ToolMessage, out_buf) == 48);

// ioctl result (0 = success), or STATUS_NO_DEVICE when the tool device
// cannot be opened (errno tells why). Nothing here prints: the program
// says what a failed request means.
int32_t send_tool_message(ToolMessage *message, void *reply);
// Every request of this tool: a zeroed message filled for `target`, with
// `buffer` as both request data and reply. STATUS_BAD_ARGUMENT without one.
int32_t send_request(const DeviceTarget &target, uint32_t module, uint32_t command,
                     uint32_t in_size, uint32_t out_size, void *buffer);
