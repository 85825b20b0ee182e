#include "tests/template/template_file.h"

#include <cstdio>
#include <cstring>
#include <sstream>
#include <type_traits>

#include "channel/template_exchange.h"
#include "template/template_keys.h"

namespace zorvitest {
namespace {

// The bytes of element `index` of the key's field; const with the record.
template <typename Record>
auto *element(Record &record, const TemplateKey &key, uint32_t index)
{
    using Byte = std::conditional_t<std::is_const_v<Record>, const unsigned char, unsigned char>;
    return reinterpret_cast<Byte *>(&record) + key.offset + index * key.width;
}

uint32_t read_element(const ResourceTemplate &record, const TemplateKey &key, uint32_t index)
{
    const unsigned char *field = element(record, key, index);
    uint16_t half = 0;
    uint32_t word = 0;
    if (key.width == 1) {
        return field[0];
    }
    return key.width == 2 ? (memcpy(&half, field, 2), half) : (memcpy(&word, field, 4), word);
}

bool block_selected(const TemplateKey &key, uint32_t mode)
{
    return key.mode_bit == 0 || (mode & key.mode_bit) != 0;
}

std::string number_text(const char *pattern, uint32_t value)
{
    char text[16];
    snprintf(text, sizeof(text), pattern, value);
    return text;
}

std::string key_name(const TemplateKey &key, uint32_t index)
{
    return key.count == 1 ? key.name : key.name + number_text("%02u", index);
}

}  // namespace

void set_element(ResourceTemplate &record, const TemplateKey &key, uint32_t index, uint32_t value)
{
    unsigned char *field = element(record, key, index);
    const auto half = static_cast<uint16_t>(value);
    if (key.width == 1) {
        field[0] = static_cast<uint8_t>(value);
    } else {
        key.width == 2 ? memcpy(field, &half, 2) : memcpy(field, &value, 4);
    }
}

uint32_t template_metadata(const ResourceTemplate &record)
{
    return template_crc32(reinterpret_cast<const unsigned char *>(&record) + TEMPLATE_BODY_OFFSET,
                          template_length(&record));
}

ResourceTemplate parsed_form(const ResourceTemplate &record)
{
    ResourceTemplate parsed{};
    parsed.mode = record.mode;
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        if (block_selected(key, record.mode)) {
            memcpy(element(parsed, key, 0), element(record, key, 0),
                   static_cast<size_t>(key.width) * key.count);
        }
    }
    return parsed;
}

ResourceTemplate sample_record(uint32_t mode)
{
    ResourceTemplate record{};
    record.mode = mode;
    snprintf(record.MODENAME, sizeof(record.MODENAME), "sample mode %02X", mode);
    uint32_t seed = 1;
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        ++seed;
        for (uint32_t pf = 0; key.kind != KEY_TEXT && pf < key.count; ++pf) {
            set_element(record, key, pf,
                        key.kind == KEY_CARD_ID      ? SIM_PCI_DEVICE_ID
                        : key.bound == KEY_ANY_VALUE ? 0x80000000u + seed * 0x10001u + pf
                                                     : (seed * 7 + pf * 3 + 1) % (key.bound + 1));
        }
    }
    return parsed_form(record);
}

std::string render_template_file(const ResourceTemplate &record, const TemplateFileOptions &options)
{
    std::string out;
    auto line = [&](const std::string &text) { out += text + options.line_end; };
    auto comment = [&](const std::string &text) {
        std::istringstream lines(text);
        for (std::string part; std::getline(lines, part);) {
            line(part.empty() ? "#" : "# " + part);
        }
    };
    // The comment of a key comes before its first line, even when the line
    // itself is left out.
    auto put = [&](const std::string &base, const std::string &name, const std::string &value,
                   bool first) {
        if (auto found = options.comments.find(base); first && found != options.comments.end()) {
            comment(found->second);
        }
        if (options.omit.count(name) == 0) {
            auto replaced = options.values.find(name);
            line(name + " = " + (replaced == options.values.end() ? value : replaced->second));
        }
    };
    auto single = [&](const std::string &name, const std::string &value) {
        put(name, name, value, true);
    };

    if (!options.header_comment.empty()) {
        comment(options.header_comment);
        line("");
    }
    line("[INFO]");
    single("VERSION", std::to_string(options.version.value_or(record.mode * 2)));
    if ((record.mode & MODE_MODENAME) != 0) {
        single("MODENAME", std::string(record.MODENAME, strnlen(record.MODENAME, MODENAME_SIZE)));
    }
    if (options.pcidid.has_value()) {
        single("PCIDID", number_text("0x%X", *options.pcidid));
    }
    single(
        "METADATA",
        number_text("0x%08X", options.metadata.value_or(template_metadata(parsed_form(record)))));
    line("");
    line("[CONFIG]");
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        if (key.section != SECTION_CONFIG || !block_selected(key, record.mode)) {
            continue;
        }
        const bool hex = options.hex || options.hex_keys.count(key.name) != 0;
        for (uint32_t pf = 0; pf < key.count; ++pf) {
            put(key.name, key_name(key, pf),
                number_text(hex ? "0x%X" : "%u", read_element(record, key, pf)), pf == 0);
        }
    }
    return out;
}

}  // namespace zorvitest
