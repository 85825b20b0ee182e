// Random valid templates from a seeded generator: every block that the mode
// selects filled with values inside its key's range (the range ends chosen
// often), the others left zero, as the parser builds them.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "template/resource_template.h"

namespace zorviprop {

struct RandomTemplate {
    ResourceTemplate record;  // the parsed form: what the card must receive
    uint32_t version;         // VERSION written to the file (its low bit is dropped)
    bool older_driver;        // driver before 1.4.3.0: PCIDID neither read nor kept
};

// Modes mostly from the seven block bits, sometimes with bits above them.
uint32_t random_mode(std::mt19937 &rng);
RandomTemplate random_template(std::mt19937 &rng, uint32_t mode, bool older_driver);

// Bytes from offset 32 the checksum covers, from the field layout: every
// block up to the one of mode's highest set bit (GAN/GCN share the block
// that begins with SM; bits above 0x40 cover the base block only).
uint32_t reference_length(uint32_t mode);

// What the display must print for a record, written out line by line.
std::string expected_display(const ResourceTemplate &record);

}  // namespace zorviprop
