#include "tests/template/example_templates.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "template/template_keys.h"

namespace zorvitest {
namespace {

const char *const KEY_HELP[][2] = {
    {"VERSION",
     "Template version. VERSION / 2 is the mode word; each of its bits adds\n"
     "one optional block: 0x01 MODENAME, 0x02 the nine OxQVN tables,\n"
     "0x04 SM and SMP, 0x08 PCIDID, 0x10 GAN and GCN, 0x20 CBMP and CBMOP,\n"
     "0x40 OVNP. 255 enables every block."},
    {"MODENAME", "Name of this resource mode, at most 31 characters."},
    {"PCIDID",
     "PCI device id of the card this file is written for. Drivers from\n"
     "1.4.3.0 on report the card's id, and the load stops when it differs.\n"
     "It is stored in the record only when the mode has 0x08."},
    {"METADATA",
     "CRC-32 of the record this file describes (from byte 32, as long as the\n"
     "mode's highest block reaches). Any changed value needs a new METADATA,\n"
     "or the load is refused."},
    {"HN", "Host number"},
    {"PN", "Port number"},
    {"PM", "Port setting, 16 bits"},
    {"PH", "Port setting, 32 bits"},
    {"INP", "Interrupt number of the physical functions"},
    {"VINP", "Interrupt number of the virtual functions"},
    {"VNP", "Virtual functions of each PF"},
    {"QNP", "Queues of each PF"},
    {"VQNP", "Queues of each virtual function, per PF"},
    {"QPNP", "Queue pairs of each PF"},
    {"VQPNP", "Queue pairs of the virtual functions, per PF"},
    {"CQNP", "Completion queues of each PF"},
    {"VCQNP", "Completion queues of the virtual functions, per PF"},
    {"O1QVN", "Queue-vector tables: vectors per PF for 1, 2, 4 ... 256 queues"},
    {"SM", "Service mode count"},
    {"SMP", "Service mode of each PF"},
    {"GAN", "GAN setting"},
    {"GCN", "GCN setting"},
    {"CBMP", "Bitmap of each PF"},
    {"CBMOP", "Second bitmap of each PF"},
    {"OVNP", "Vector table of each PF"},
};

// Comments for every key: its meaning, its form and its range, from the
// same key table that the parser reads.
std::map<std::string, std::string> key_comments() {
    std::map<std::string, std::string> comments;
    for (const auto &help : KEY_HELP) {
        comments[help[0]] = help[1];
    }
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        if (key.section != SECTION_CONFIG) {
            continue;
        }
        std::string &text = comments[key.name];
        char range[96];
        if (key.bound == KEY_ANY_VALUE) {
            snprintf(range, sizeof(range), "any 32-bit value");
        } else {
            snprintf(range, sizeof(range), "0 to %u", key.bound);
        }
        if (key.count == 1) {
            text += text.empty() ? std::string(key.name) + ": " + range : ": " + std::string(range);
        } else {
            text += (text.empty() ? "" : "\n") + std::string(key.name) + "00 to " + key.name +
                    "15, each " + range;
        }
    }
    return comments;
}

// Sets the first elements of each named field, through the key table.
void fill(ResourceTemplate &record,
          std::initializer_list<std::pair<const char *, std::vector<uint32_t>>> fields) {
    for (const auto &[name, values] : fields) {
        const TemplateKey *key =
            std::find_if(std::begin(TEMPLATE_KEYS), std::end(TEMPLATE_KEYS),
                         [name = name](const TemplateKey &k) { return strcmp(k.name, name) == 0; });
        for (uint32_t pf = 0; pf < values.size(); ++pf) {
            set_element(record, *key, pf, values[pf]);
        }
    }
}

// Two PFs in use, base block only.
ResourceTemplate two_function_record() {
    ResourceTemplate record{};
    fill(record, {{"HN", {1}},
                  {"PN", {2}},
                  {"PM", {0x0003}},
                  {"PH", {0}},
                  {"INP", {4}},
                  {"VINP", {2}},
                  {"VNP", {8, 8}},
                  {"QNP", {64, 64}},
                  {"VQNP", {4, 4}},
                  {"QPNP", {1024, 1024}},
                  {"VQPNP", {256, 256}},
                  {"CQNP", {2048, 2048}},
                  {"VCQNP", {512, 512}}});
    return record;
}

// Four PFs in use and every optional block; the queue-vector tables give
// each PF as many vectors as queues, at most 64.
ResourceTemplate full_record() {
    ResourceTemplate record{};
    record.mode = 0x7F;
    snprintf(record.MODENAME, sizeof(record.MODENAME), "four-function");
    fill(record, {{"HN", {2}},
                  {"PN", {4}},
                  {"PM", {0x000F}},
                  {"PH", {0x00010002}},
                  {"INP", {8}},
                  {"VINP", {4}},
                  {"VNP", {16, 16, 8, 8}},
                  {"QNP", {128, 128, 64, 64}},
                  {"VQNP", {8, 8, 4, 4}},
                  {"QPNP", {4096, 4096, 2048, 2048}},
                  {"VQPNP", {1024, 1024, 512, 512}},
                  {"CQNP", {8192, 8192, 4096, 4096}},
                  {"VCQNP", {2048, 2048, 1024, 1024}},
                  {"SM", {2}},
                  {"SMP", {1, 1, 2, 2}},
                  {"GAN", {1}},
                  {"GCN", {2}},
                  {"PCIDID", {SIM_PCI_DEVICE_ID}},
                  {"CBMP", {0x0F, 0xF0, 0x0F, 0xF0}},
                  {"CBMOP", {0x01, 0x02, 0x04, 0x08}},
                  {"OVNP", {0x10, 0x10, 0x20, 0x20}}});
    uint32_t queues = 1;
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        if (key.mode_bit == MODE_QVN) {
            for (uint32_t pf = 0; pf < 4; ++pf) {
                set_element(record, key, pf, queues < 64 ? queues : 64);
            }
            queues *= 2;
        }
    }
    return record;
}

}  // namespace

std::vector<ExampleTemplate> example_templates() {
    std::vector<ExampleTemplate> examples;

    const std::set<std::string> hex_keys = {"PM", "PH", "CBMP", "CBMOP", "OVNP"};
    ExampleTemplate minimal{"minimal.ini", two_function_record(), {}};
    minimal.options.hex_keys = hex_keys;
    minimal.options.header_comment =
        "Smallest useful template: VERSION 0 (mode 0), base keys only, two\n"
        "physical functions in use. PCIDID is read from drivers 1.4.3.0 on and\n"
        "must be the card's id (0x1822 on the simulated card).";
    examples.push_back(minimal);

    ExampleTemplate full{"full.ini", full_record(), {}};
    full.options.version = 255;
    full.options.hex_keys = hex_keys;
    full.options.comments = key_comments();
    full.options.header_comment =
        "Every block of the template (VERSION 255), four physical functions in\n"
        "use. Numbers are decimal or hexadecimal with 0x; '#' and '//' start\n"
        "comments; unused PFs are 0 but every key must be present.";
    examples.push_back(full);

    ResourceTemplate with_id = two_function_record();
    with_id.mode = MODE_PCIDID;
    with_id.PCIDID = SIM_PCI_DEVICE_ID;
    ExampleTemplate pcidid{"pcidid.ini", with_id, {}};
    pcidid.options.hex_keys = hex_keys;
    pcidid.options.header_comment =
        "Base keys and the PCIDID block (VERSION 16, mode 0x08): the card's PCI\n"
        "device id is stored in the template and sealed by METADATA.";
    pcidid.options.comments = {{"PCIDID", key_comments()["PCIDID"]}};
    examples.push_back(pcidid);

    return examples;
}

}  // namespace zorvitest
