// Prints a template fetched from the card under the key names of the
// template file, walking the key table. Nothing is validated: the record is
// shown as the card sent it.
#include "tool/display.h"

#include <cstdio>
#include <cstring>

#include "bounded/shown_text.h"
#include "channel/template_exchange.h"
#include "template/template_keys.h"
#include "tool/device_name.h"
#include "tool/open_failure.h"

namespace {

// Title, header row and value row; both rows end with a tab.
void print_table(const ResourceTemplate *record, const TemplateKey &key)
{
    printf("\t[%s]\n\t\t", key.name);
    for (uint32_t i = 0; i < PF_COUNT; ++i) {
        printf("PF%02u\t", i);
    }
    printf("\n\t\t");
    for (uint32_t i = 0; i < PF_COUNT; ++i) {
        char value[KEY_VALUE_TEXT_SIZE];
        show_key_value(key, key_element(record, key, i), value);
        printf("%s\t", value);
    }
    putchar('\n');
}

void print_value(const ResourceTemplate *record, const TemplateKey &key)
{
    if (key.kind == KEY_TEXT) {
        // The card may fill the whole field without a terminator, and its
        // control bytes are shown, never sent to root's terminal.
        const char *text = reinterpret_cast<const char *>(record) + key.offset;
        char shown[4 * sizeof(record->MODENAME) + 1];
        (void)show_text(text, strnlen(text, key.width), shown, sizeof(shown), SHOW_C0_C1);
        printf("\t\t%s: %s\n", key.name, shown);
    } else {
        char value[KEY_VALUE_TEXT_SIZE];
        show_key_value(key, key_element(record, key, 0), value);
        printf("\t\t%s: %s\n", key.name, value);
    }
}

// The keys from FIRST to LAST in table order, each only when the record's
// mode enables its block. The run is checked against the table at build time.
template <size_t FIRST, size_t LAST>
void print_keys(const ResourceTemplate *record)
{
    static_assert(FIRST <= LAST && LAST < TEMPLATE_KEY_COUNT);
    for (size_t i = FIRST; i <= LAST; ++i) {
        const TemplateKey &key = TEMPLATE_KEYS[i];
        if (!key_enabled(record->mode, key)) {
            continue;
        }
        if (key.count == PF_COUNT) {
            print_table(record, key);
        } else {
            print_value(record, key);
        }
    }
}

void print_basic_config(const ResourceTemplate *record)
{
    puts("\nDevice current configuration:");
    puts("\t[BASIC]");
    print_keys<key_index("MODENAME"), key_index("MODENAME")>(record);
    print_keys<key_index("HN"), key_index("VINP")>(record);
    print_keys<key_index("GAN"), key_index("GCN")>(record);
    print_keys<key_index("SM"), key_index("SMP")>(record);
}

void print_vnp_qnp_tables(const ResourceTemplate *record)
{
    print_keys<key_index("VNP"), key_index("VQNP")>(record);
}

void print_qpnp_tables(const ResourceTemplate *record)
{
    print_keys<key_index("QPNP"), key_index("VCQNP")>(record);
}

void print_qvn_tables(const ResourceTemplate *record)
{
    print_keys<key_index("O1QVN"), key_index("O256QVN")>(record);
}

void print_cbmp_tables(const ResourceTemplate *record)
{
    print_keys<key_index("CBMP"), key_index("CBMOP")>(record);
}

void print_ovnp_table(const ResourceTemplate *record)
{
    print_keys<key_index("OVNP"), key_index("OVNP")>(record);
}

}  // namespace

void print_template(const ResourceTemplate *record)
{
    print_basic_config(record);
    print_vnp_qnp_tables(record);
    print_qpnp_tables(record);
    print_qvn_tables(record);
    print_cbmp_tables(record);
    print_ovnp_table(record);
}

int32_t display_config()
{
    // The card's copy goes into a record of its own, never into g_config.
    ResourceTemplate record{};
    const int32_t status = print_open_failure(get_template_from_card(g_device_target, &record));
    if (status == 0) {
        print_template(&record);
    }
    return status;
}
