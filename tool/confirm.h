// The two-step confirmation before a template is written to the card.
#pragma once

#include <cstdint>

// 0 when the user typed "yes" and then "agree"; -1 otherwise.
int32_t confirm_operation();
