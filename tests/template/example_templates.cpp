#include "tests/template/example_templates.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "template/template_keys.h"
#include "tests/template/case_text.h"

namespace zorvitest {
namespace {

// The texts of example_comments.txt, by key or example file name.
std::map<std::string, std::string> comment_texts()
{
    std::map<std::string, std::string> texts;
    std::string *text = nullptr;
    for (const std::string &line : case_lines(ZORVI_EXAMPLE_COMMENTS)) {
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            text = &texts[line.substr(1, line.size() - 2)];
        } else if (text != nullptr && !line.empty() && line[0] != '#') {
            *text += (text->empty() ? "" : "\n") + line;
        }
    }
    return texts;
}

// Comments for every key: its meaning, its form and its range, from the
// same key table that the parser reads.
std::map<std::string, std::string> key_comments(std::map<std::string, std::string> comments)
{
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        if (key.section != SECTION_CONFIG) {
            continue;
        }
        std::string &text = comments[key.name];
        const std::string name = key.name;
        const std::string range =
            key.bound == KEY_ANY_VALUE ? "any 32-bit value" : "0 to " + std::to_string(key.bound);
        if (key.count == 1) {
            text += (text.empty() ? name : "") + ": " + range;
        } else {
            text += (text.empty() ? "" : "\n") + name + "00 to " + name + "15, each " + range;
        }
    }
    return comments;
}

// Sets fields from words "KEY=v,v,...": the first elements of each, through
// the key table.
void fill(ResourceTemplate &record, const char *fields)
{
    std::istringstream words(fields);
    for (std::string word; words >> word;) {
        const std::string name = word.substr(0, word.find('='));
        const TemplateKey *key = std::find_if(std::begin(TEMPLATE_KEYS), std::end(TEMPLATE_KEYS),
                                              [&](const TemplateKey &k) { return k.name == name; });
        std::istringstream values(word.substr(name.size() + 1));
        uint32_t pf = 0;
        for (std::string value; std::getline(values, value, ',');) {
            set_element(record, *key, pf++, static_cast<uint32_t>(std::stoul(value, nullptr, 0)));
        }
    }
}

// Two PFs in use, base block only.
ResourceTemplate two_function_record()
{
    ResourceTemplate record{};
    fill(record,
         "HN=1 PN=2 PM=0x3 PH=0 INP=4 VINP=2 VNP=8,8 QNP=64,64 VQNP=4,4 QPNP=1024,1024 "
         "VQPNP=256,256 CQNP=2048,2048 VCQNP=512,512");
    return record;
}

// Four PFs in use and every optional block; the queue-vector tables give
// each PF as many vectors as queues, at most 64.
ResourceTemplate full_record()
{
    ResourceTemplate record{};
    record.mode = 0x7F;
    snprintf(record.MODENAME, sizeof(record.MODENAME), "four-function");
    fill(record,
         "HN=2 PN=4 PM=0xF PH=0x10002 INP=8 VINP=4 VNP=16,16,8,8 QNP=128,128,64,64 VQNP=8,8,4,4 "
         "QPNP=4096,4096,2048,2048 VQPNP=1024,1024,512,512 CQNP=8192,8192,4096,4096 "
         "VCQNP=2048,2048,1024,1024 SM=2 SMP=1,1,2,2 GAN=1 GCN=2 PCIDID=0x3310 "
         "CBMP=0x0F,0xF0,0x0F,0xF0 CBMOP=1,2,4,8 OVNP=0x10,0x10,0x20,0x20");
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

std::vector<ExampleTemplate> example_templates()
{
    std::map<std::string, std::string> texts = comment_texts();
    ResourceTemplate with_id = two_function_record();
    with_id.mode = MODE_PCIDID;
    with_id.PCIDID = SIM_PCI_DEVICE_ID;
    std::vector<ExampleTemplate> examples = {{"minimal.ini", two_function_record(), {}},
                                             {"full.ini", full_record(), {}},
                                             {"pcidid.ini", with_id, {}}};
    for (ExampleTemplate &example : examples) {
        example.options.hex_keys = {"PM", "PH", "CBMP", "CBMOP", "OVNP"};
        example.options.header_comment = texts[example.file_name];
    }
    examples[1].options.version = 255;
    examples[1].options.comments = key_comments(texts);
    examples[2].options.comments = {{"PCIDID", texts["PCIDID"]}};
    return examples;
}

}  // namespace zorvitest
