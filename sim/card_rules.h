// What the simulated card checks and answers: status bytes, the checksum and
// the covered length of a template. Written apart from the tool's own code so
// that a fault in one does not hide in the other.
#pragma once

#include <cstddef>
#include <cstdint>

#include "template/resource_template.h"

// Status bytes the simulated card writes into byte 0 of a template reply.
constexpr uint8_t CARD_STATUS_OK = 0x00;
constexpr uint8_t CARD_STATUS_NO_TEMPLATE = 0x01;  // fetch from a card that holds none
constexpr uint8_t CARD_STATUS_BAD_CHANNEL = 0x02;  // byte 2 of the request is not 3
constexpr uint8_t CARD_STATUS_BAD_MAGIC = 0x03;    // magic is not "ZZZZ"
constexpr uint8_t CARD_STATUS_BAD_LENGTH =
    0x04;                                      // length does not fit the mode (or 352 on a fetch)
constexpr uint8_t CARD_STATUS_BAD_CRC = 0x05;  // checksum does not match the covered bytes
constexpr uint8_t CARD_STATUS_WRITE_FAILED = 0x06;  // the card's storage could not be written

// The channel byte every template request must carry.
constexpr uint8_t CARD_CHANNEL_BYTE = 3;

// CRC-32/POSIX, bit by bit: polynomial 0x04C11DB7, init 0, no reflection,
// final XOR 0xFFFFFFFF.
uint32_t card_crc32(const uint8_t *data, size_t length);

// The checksum of the bytes from offset 32 that the record's length covers
// (cut to the record): what the card compares with a store's crc, and the
// template's METADATA.
uint32_t card_metadata(const ResourceTemplate *record);

// Bytes from offset 32 covered by the checksum for a record of this mode.
uint32_t card_covered_length(uint32_t mode);

// Checks a store request; CARD_STATUS_OK when the card would accept it.
uint8_t card_check_store(const ResourceTemplate *request);
// Checks a fetch request; CARD_STATUS_OK when well formed.
uint8_t card_check_fetch(const ResourceTemplate *request);
