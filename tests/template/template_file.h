// Writes template files from a ResourceTemplate by walking the program's own
// key table, with the METADATA the program itself computes. Tests use it to
// make good files and, by small changes, bad ones; the example generator uses
// it to write examples/.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "template/resource_template.h"
#include "template/template_keys.h"
#include "tests/harness/test_util.h"

namespace zorvitest {

constexpr uint32_t SIM_PCI_DEVICE_ID = 0x3310;

struct TemplateFileOptions {
    std::optional<uint32_t> version;                     // VERSION written; default mode * 2
    std::optional<uint32_t> pcidid = SIM_PCI_DEVICE_ID;  // PCIDID line, if any
    std::optional<uint32_t> metadata;                    // METADATA written; default the checksum
    bool hex = false;                                    // numbers as 0x.. instead of decimal
    std::set<std::string> hex_keys;                      // base names always written as 0x..
    std::string line_end = "\n";
    std::set<std::string> omit;                   // full key names left out
    std::map<std::string, std::string> values;    // full key name -> text written, any key
    std::map<std::string, std::string> comments;  // base name -> comment line(s)
    std::string header_comment;                   // lines put at the top
};

// template_crc32 over the template_length bytes from offset 32.
uint32_t template_metadata(const ResourceTemplate &record);

// The record the parser should build from a file rendered from `record`:
// only the blocks selected by mode, PCIDID only with MODE_PCIDID.
ResourceTemplate parsed_form(const ResourceTemplate &record);

// Valid in-range values in every field of every block that `mode` selects,
// varied per PF so that misplaced elements show.
ResourceTemplate sample_record(uint32_t mode);

// Stores `value` into element `index` of the key's field, at its width.
void set_element(ResourceTemplate &record, const TemplateKey &key, uint32_t index, uint32_t value);

std::string render_template_file(const ResourceTemplate &record,
                                 const TemplateFileOptions &options = {});

// Older names of the shared file helpers.
inline void write_text_file(const std::string &path, const std::string &text)
{
    write_file(path, text);
}
inline std::string read_text_file(const std::string &path)
{
    return read_file(path);
}

}  // namespace zorvitest
