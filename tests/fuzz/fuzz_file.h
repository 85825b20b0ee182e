// Shared by the file-reading fuzz targets: the input goes to a private file
// that the code under test opens by path, as it opens a template file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorvifuzz {

// Path of this process's scratch file, created on first use and removed at
// exit. Each call overwrites it with `size` bytes of `data`.
const char *write_scratch_file(const uint8_t *data, size_t size);

// The code under test prints its messages; keep them off the terminal.
void silence_stdout();

}  // namespace zorvifuzz
