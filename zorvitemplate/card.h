// The card behind the DEVICE argument, asked only what a load asks, and
// its template fetched. Nothing here writes to the card.
#pragma once

#include <cstddef>
#include <cstdint>

#include "channel/card_devices.h"
#include "channel/device_target.h"
#include "template/identity_check.h"
#include "template/resource_template.h"

constexpr size_t CARD_TROUBLE_SIZE = 256;

// The device named on the command line.
extern DeviceTarget g_device_target;

// The cards the kernel shows, into g_cards, with a message when there are
// more than it holds: 0, or -1 with errno when the list cannot be read.
extern CardDevices g_cards;
int find_cards();

// Fills g_device_target; false when the name has 16 characters or more.
bool select_device(const char *name);

// The card's answer to the load's own identity query: the driver's version
// and, from 1.4.3.0 on, the card's PCI device id. False with `why` when the
// driver cannot answer.
bool ask_card_identity(CardIdentity *card, char (&why)[CARD_TROUBLE_SIZE]);

// The card's template: 0; else the card's nonzero status byte, or below 0
// when the request did not reach the card, and `why` says which.
int32_t fetch_card_template(ResourceTemplate *record, char (&why)[CARD_TROUBLE_SIZE]);
