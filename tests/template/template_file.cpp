#include "tests/template/template_file.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "channel/template_exchange.h"
#include "template/template_keys.h"

namespace zorvitest {
namespace {

uint32_t read_element(const ResourceTemplate &record, const TemplateKey &key, uint32_t index)
{
    const auto *field = reinterpret_cast<const unsigned char *>(&record) + key.offset +
                        index * key.width;
    if (key.width == 1) {
        return field[0];
    }
    if (key.width == 2) {
        uint16_t value;
        memcpy(&value, field, sizeof(value));
        return value;
    }
    uint32_t value;
    memcpy(&value, field, sizeof(value));
    return value;
}

}  // namespace

void set_element(ResourceTemplate &record, const TemplateKey &key, uint32_t index,
                 uint32_t value)
{
    auto *field = reinterpret_cast<unsigned char *>(&record) + key.offset + index * key.width;
    if (key.width == 1) {
        field[0] = static_cast<uint8_t>(value);
    } else if (key.width == 2) {
        const auto narrow = static_cast<uint16_t>(value);
        memcpy(field, &narrow, sizeof(narrow));
    } else {
        memcpy(field, &value, sizeof(value));
    }
}

namespace {

bool block_selected(const TemplateKey &key, uint32_t mode)
{
    return key.mode_bit == 0 || (mode & key.mode_bit) != 0;
}

std::string key_name(const TemplateKey &key, uint32_t index)
{
    if (key.count == 1) {
        return key.name;
    }
    char name[64];
    snprintf(name, sizeof(name), "%s%02u", key.name, index);
    return name;
}

std::string number_text(uint32_t value, bool hex)
{
    char text[16];
    snprintf(text, sizeof(text), hex ? "0x%X" : "%u", value);
    return text;
}

class Writer {
public:
    explicit Writer(const TemplateFileOptions &options) : options_(options) {}

    void line(const std::string &text) { out_ << text << options_.line_end; }

    void comment(const std::string &base)
    {
        auto found = options_.comments.find(base);
        if (found != options_.comments.end()) {
            comment_text(found->second);
        }
    }

    void comment_text(const std::string &text)
    {
        std::istringstream lines(text);
        for (std::string text; std::getline(lines, text);) {
            line(text.empty() ? "#" : "# " + text);
        }
    }

    void key(const std::string &name, const std::string &value)
    {
        if (options_.omit.count(name) != 0) {
            return;
        }
        auto replaced = options_.values.find(name);
        line(name + " = " + (replaced == options_.values.end() ? value : replaced->second));
    }

    std::string text() const { return out_.str(); }

private:
    const TemplateFileOptions &options_;
    std::ostringstream out_;
};

}  // namespace

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
            memcpy(reinterpret_cast<unsigned char *>(&parsed) + key.offset,
                   reinterpret_cast<const unsigned char *>(&record) + key.offset,
                   static_cast<size_t>(key.width) * key.count);
        }
    }
    return parsed;
}

ResourceTemplate sample_record(uint32_t mode)
{
    ResourceTemplate record{};
    record.mode = mode;
    uint32_t seed = 1;
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        ++seed;
        if (!block_selected(key, mode)) {
            continue;
        }
        if (key.kind == KEY_TEXT) {
            snprintf(record.MODENAME, sizeof(record.MODENAME), "sample mode %02X", mode);
            continue;
        }
        for (uint32_t pf = 0; pf < key.count; ++pf) {
            uint32_t value = (key.kind == KEY_CARD_ID) ? SIM_PCI_DEVICE_ID
                             : key.bound == KEY_ANY_VALUE
                                 ? 0x80000000u + seed * 0x10001u + pf
                                 : (seed * 7 + pf * 3 + 1) % (key.bound + 1);
            set_element(record, key, pf, value);
        }
    }
    return record;
}

std::string render_template_file(const ResourceTemplate &record,
                                 const TemplateFileOptions &options)
{
    const ResourceTemplate parsed = parsed_form(record);
    Writer out(options);
    if (!options.header_comment.empty()) {
        out.comment_text(options.header_comment);
        out.line("");
    }
    out.line("[INFO]");
    out.comment("VERSION");
    out.key("VERSION", std::to_string(options.version.value_or(record.mode * 2)));
    if ((record.mode & MODE_MODENAME) != 0) {
        out.comment("MODENAME");
        out.key("MODENAME", std::string(record.MODENAME, strnlen(record.MODENAME,
                                                                 sizeof(record.MODENAME))));
    }
    if (options.pcidid.has_value()) {
        out.comment("PCIDID");
        out.key("PCIDID", number_text(*options.pcidid, true));
    }
    out.comment("METADATA");
    char metadata[16];
    snprintf(metadata, sizeof(metadata), "0x%08X",
             options.metadata.value_or(template_metadata(parsed)));
    out.key("METADATA", metadata);
    out.line("");
    out.line("[CONFIG]");
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        if (key.section != SECTION_CONFIG || !block_selected(key, record.mode)) {
            continue;
        }
        out.comment(key.name);
        for (uint32_t pf = 0; pf < key.count; ++pf) {
            out.key(key_name(key, pf), number_text(read_element(record, key, pf),
                                                     options.hex || options.hex_keys.count(key.name) != 0));
        }
    }
    return out.text();
}

void write_text_file(const std::string &path, const std::string &text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string read_text_file(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace zorvitest
