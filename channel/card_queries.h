// The two questions asked of the driver before a template is stored, and
// the answer they make together, which each program renders in its words.
#pragma once

#include <cstdint>

#include "channel/device_target.h"
#include "channel/tool_message.h"
#include "template/identity_check.h"

// Fills the caller's zeroed DRIVER_VERSION_SIZE-byte buffer with the
// driver's version text. Result of send_tool_message. The driver may fill all
// DRIVER_VERSION_SIZE bytes without a terminating NUL: readers of the reply
// must take at most DRIVER_VERSION_SIZE - 1 characters from it.
int32_t get_driver_version(DeviceTarget target, char *version);
// Fills the low 16 bits of the caller's zeroed value with the card's PCI
// device id. Result of send_tool_message.
int32_t get_pci_device_id(DeviceTarget target, uint32_t *device_id);

// The step at which asking the card who it is stopped.
enum IdentityStep : uint8_t {
    IDENTITY_VERSION_REQUEST,  // the version request failed
    IDENTITY_NO_VERSION,       // the driver's answer holds no text
    IDENTITY_BAD_VERSION,      // its first word is no version number
    IDENTITY_PCI_ID_REQUEST,   // the PCI device id request failed
    IDENTITY_KNOWN,            // the version, and the id when the driver can tell it
};

struct IdentityAnswer {
    IdentityStep step;
    int32_t status;                          // 0, or the status a load stops with
    int error;                               // errno just after a failed request
    char version_text[DRIVER_VERSION_SIZE];  // cut after its first word
    CardIdentity card;
};

// The driver's version, then, from a driver that can tell it, the card's
// PCI device id, as a load asks for them. Prints nothing; answer->status.
int32_t query_card_identity(DeviceTarget target, IdentityAnswer *answer);
