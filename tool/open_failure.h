// What the tool says of a request to the driver that could not be sent.
#pragma once

#include <cstdint>

// `status` of a request to the driver, after the lines that tell of a tool
// device that could not be opened.
int32_t print_open_failure(int32_t status);
