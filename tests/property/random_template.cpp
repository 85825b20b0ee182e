#include "tests/property/random_template.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "template/template_keys.h"
#include "tests/template/template_file.h"

namespace zorviprop {
namespace {

uint32_t pick(std::mt19937 &rng, uint32_t low, uint32_t high)
{
    return std::uniform_int_distribution<uint32_t>(low, high)(rng);
}

// The range ends are where off-by-one faults live: take them often.
uint32_t random_value(std::mt19937 &rng, uint32_t bound)
{
    switch (pick(rng, 0, 5)) {
        case 0:
            return 0;
        case 1:
            return bound;
        default:
            return pick(rng, 0, bound);
    }
}

// A mode name that a template file can carry: printable, no blanks at its
// ends (the reader trims them) and no "//" (the reader cuts a comment there).
void random_mode_name(std::mt19937 &rng, char (&name)[MODENAME_SIZE])
{
    memset(name, 0, sizeof(name));
    uint32_t length = pick(rng, 0, 3) == 0 ? MODENAME_SIZE - 1 : pick(rng, 0, MODENAME_SIZE - 1);
    for (uint32_t i = 0; i < length; ++i) {
        auto c = static_cast<char>(pick(rng, 0x20, 0x7E));
        bool at_end = i == 0 || i + 1 == length;
        if ((c == ' ' && at_end) || (c == '/' && i > 0 && name[i - 1] == '/')) {
            c = 'x';
        }
        name[i] = c;
    }
}

}  // namespace

uint32_t random_mode(std::mt19937 &rng)
{
    uint32_t mode = pick(rng, 0, 0x7F);
    if (pick(rng, 0, 3) == 0) {
        mode |= pick(rng, 0, 0xFF) << 7;
    }
    return mode;
}

RandomTemplate random_template(std::mt19937 &rng, uint32_t mode, bool older_driver)
{
    RandomTemplate out{};
    out.record.mode = mode;
    out.version = mode * 2 + pick(rng, 0, 1);
    out.older_driver = older_driver;
    for (const TemplateKey &key : TEMPLATE_KEYS) {
        if (key.mode_bit != 0 && (mode & key.mode_bit) == 0) {
            continue;
        }
        if (key.kind == KEY_TEXT) {
            random_mode_name(rng, out.record.MODENAME);
        } else if (key.kind == KEY_CARD_ID) {
            out.record.PCIDID = older_driver ? 0 : zorvitest::SIM_PCI_DEVICE_ID;
        } else {
            for (uint32_t pf = 0; pf < key.count; ++pf) {
                zorvitest::set_element(out.record, key, pf, random_value(rng, key.bound));
            }
        }
    }
    return out;
}

uint32_t reference_length(uint32_t mode)
{
    size_t end = offsetof(ResourceTemplate, MODENAME);  // the base block
    uint32_t highest = 0;
    for (uint32_t bit = 1; bit != 0 && bit <= mode; bit <<= 1) {
        if ((mode & bit) != 0) {
            highest = bit;
        }
    }
    switch (highest) {
        case MODE_MODENAME:
            end = offsetof(ResourceTemplate, O1QVN);
            break;
        case MODE_QVN:
            end = offsetof(ResourceTemplate, SM);
            break;
        case MODE_SM:
        case MODE_GAN_GCN:
            end = offsetof(ResourceTemplate, PCIDID);
            break;
        case MODE_PCIDID:
            end = offsetof(ResourceTemplate, CBMP);
            break;
        case MODE_CBMP:
            end = offsetof(ResourceTemplate, OVNP);
            break;
        case MODE_OVNP:
            end = offsetof(ResourceTemplate, reserved_tail);
            break;
        default:
            break;
    }
    return static_cast<uint32_t>(end - TEMPLATE_BODY_OFFSET);
}

namespace {

template <typename T>
void table(std::string &out, const char *name, const T (&values)[PF_COUNT], bool hex)
{
    char text[32];
    out += "\t[" + std::string(name) + "]\n\t\t";
    for (uint32_t pf = 0; pf < PF_COUNT; ++pf) {
        snprintf(text, sizeof(text), "PF%02u\t", pf);
        out += text;
    }
    out += "\n\t\t";
    for (T value : values) {
        if (hex) {
            snprintf(text, sizeof(text), "0x%02x\t", static_cast<unsigned>(value));
        } else {
            snprintf(text, sizeof(text), "%02d\t", static_cast<int>(value));
        }
        out += text;
    }
    out += "\n";
}

void line(std::string &out, const char *name, const char *format, uint32_t value)
{
    char text[64];
    snprintf(text, sizeof(text), format, value);
    out += "\t\t" + std::string(name) + ": " + text + "\n";
}

}  // namespace

std::string expected_display(const ResourceTemplate &r)
{
    std::string out = "\nDevice current configuration:\n\t[BASIC]\n";
    if ((r.mode & MODE_MODENAME) != 0) {
        out +=
            "\t\tMODENAME: " + std::string(r.MODENAME, strnlen(r.MODENAME, MODENAME_SIZE)) + "\n";
    }
    line(out, "HN", "%u", r.HN);
    line(out, "PN", "%u", r.PN);
    line(out, "PM", "0x%04X", r.PM);
    line(out, "PH", "0x%08X", r.PH);
    line(out, "INP", "%u", r.INP);
    line(out, "VINP", "%u", r.VINP);
    if ((r.mode & MODE_GAN_GCN) != 0) {
        line(out, "GAN", "%u", r.GAN);
        line(out, "GCN", "%u", r.GCN);
    }
    if ((r.mode & MODE_SM) != 0) {
        line(out, "SM", "%u", r.SM);
        table(out, "SMP", r.SMP, false);
    }
    table(out, "VNP", r.VNP, false);
    table(out, "QNP", r.QNP, false);
    table(out, "VQNP", r.VQNP, false);
    table(out, "QPNP", r.QPNP, false);
    table(out, "VQPNP", r.VQPNP, false);
    table(out, "CQNP", r.CQNP, false);
    table(out, "VCQNP", r.VCQNP, false);
    if ((r.mode & MODE_QVN) != 0) {
        table(out, "O1QVN", r.O1QVN, false);
        table(out, "O2QVN", r.O2QVN, false);
        table(out, "O4QVN", r.O4QVN, false);
        table(out, "O8QVN", r.O8QVN, false);
        table(out, "O16QVN", r.O16QVN, false);
        table(out, "O32QVN", r.O32QVN, false);
        table(out, "O64QVN", r.O64QVN, false);
        table(out, "O128QVN", r.O128QVN, false);
        table(out, "O256QVN", r.O256QVN, false);
    }
    if ((r.mode & MODE_CBMP) != 0) {
        table(out, "CBMP", r.CBMP, true);
        table(out, "CBMOP", r.CBMOP, true);
    }
    if ((r.mode & MODE_OVNP) != 0) {
        table(out, "OVNP", r.OVNP, true);
    }
    return out;
}

}  // namespace zorviprop
