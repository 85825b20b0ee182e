// Key lookups in INI-style template files. Every lookup opens, scans and
// closes the file; nothing is kept between lookups.
#pragma once

#include <cstdint>

constexpr uint32_t INI_LINE_SIZE = 512;
constexpr uint32_t INI_VALUE_SIZE = 32;  // at most 31 characters and a NUL

int32_t get_key_value(const char *path, const char *section, const char *key, char *value);
int32_t get_uint_key_value(const char *path, const char *section, const char *key, uint32_t *value);
int32_t get_string_key_value(const char *path, const char *section, const char *key, char *value);
