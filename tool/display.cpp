// Prints a template fetched from the card under the key names of the
// template file. Nothing is validated: the record is shown as the card sent it.
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "tool/display.h"

namespace {

enum class Cell { DECIMAL, HEX };

// One 16-entry table of the record: where it lies and how an entry prints.
struct TableSpec {
    const char *name;
    size_t offset;
    size_t width;  // bytes per entry: 1, 2 or 4
    Cell cell;
};

// clang-format off
#define TABLE(field, cell) \
    TableSpec { #field, offsetof(ResourceTemplate, field), sizeof(ResourceTemplate::field[0]), cell }
// clang-format on

constexpr TableSpec VNP_QNP_TABLES[] = {
    TABLE(VNP, Cell::DECIMAL),
    TABLE(QNP, Cell::DECIMAL),
    TABLE(VQNP, Cell::DECIMAL),
};

constexpr TableSpec QPNP_TABLES[] = {
    TABLE(QPNP, Cell::DECIMAL),
    TABLE(VQPNP, Cell::DECIMAL),
    TABLE(CQNP, Cell::DECIMAL),
    TABLE(VCQNP, Cell::DECIMAL),
};

constexpr TableSpec QVN_TABLES[] = {
    TABLE(O1QVN, Cell::DECIMAL),  TABLE(O2QVN, Cell::DECIMAL),   TABLE(O4QVN, Cell::DECIMAL),
    TABLE(O8QVN, Cell::DECIMAL),  TABLE(O16QVN, Cell::DECIMAL),  TABLE(O32QVN, Cell::DECIMAL),
    TABLE(O64QVN, Cell::DECIMAL), TABLE(O128QVN, Cell::DECIMAL), TABLE(O256QVN, Cell::DECIMAL),
};

constexpr TableSpec CBMP_TABLES[] = {
    TABLE(CBMP, Cell::HEX),
    TABLE(CBMOP, Cell::HEX),
};

constexpr TableSpec SMP_TABLE = TABLE(SMP, Cell::DECIMAL);
constexpr TableSpec OVNP_TABLE = TABLE(OVNP, Cell::HEX);

#undef TABLE

uint32_t entry_at(const ResourceTemplate *record, const TableSpec &table, uint32_t index)
{
    const auto *bytes =
        reinterpret_cast<const unsigned char *>(record) + table.offset + index * table.width;
    switch (table.width) {
        case 1:
            return *bytes;
        case 2: {
            uint16_t value = 0;
            memcpy(&value, bytes, sizeof(value));
            return value;
        }
        default: {
            uint32_t value = 0;
            memcpy(&value, bytes, sizeof(value));
            return value;
        }
    }
}

// Title, header row and value row; both rows end with a tab.
void print_table(const ResourceTemplate *record, const TableSpec &table)
{
    printf("\t[%s]\n\t\t", table.name);
    for (uint32_t i = 0; i < PF_COUNT; ++i) {
        printf("PF%02u\t", i);
    }
    printf("\n\t\t");
    for (uint32_t i = 0; i < PF_COUNT; ++i) {
        uint32_t value = entry_at(record, table, i);
        if (table.cell == Cell::HEX) {
            printf("0x%02x\t", value);
        } else {
            // A 32-bit entry prints as the signed int the format expects.
            printf("%02d\t", static_cast<int>(value));
        }
    }
    putchar('\n');
}

template <size_t N>
void print_tables(const ResourceTemplate *record, const TableSpec (&tables)[N])
{
    for (const TableSpec &table : tables) {
        print_table(record, table);
    }
}

}  // namespace

void print_basic_config(const ResourceTemplate *record)
{
    puts("\nDevice current configuration:");
    puts("\t[BASIC]");
    if ((record->mode & MODE_MODENAME) != 0) {
        // The card may fill all 32 bytes without a terminator.
        printf("\t\tMODENAME: %.*s\n", static_cast<int>(MODENAME_SIZE), record->MODENAME);
    }
    printf("\t\tHN: %u\n", record->HN);
    printf("\t\tPN: %u\n", static_cast<unsigned>(record->PN));
    printf("\t\tPM: 0x%04X\n", static_cast<unsigned>(record->PM));
    printf("\t\tPH: 0x%08X\n", record->PH);
    printf("\t\tINP: %u\n", static_cast<unsigned>(record->INP));
    printf("\t\tVINP: %u\n", static_cast<unsigned>(record->VINP));
    if ((record->mode & MODE_GAN_GCN) != 0) {
        printf("\t\tGAN: %u\n", static_cast<unsigned>(record->GAN));
        printf("\t\tGCN: %u\n", static_cast<unsigned>(record->GCN));
    }
    if ((record->mode & MODE_SM) != 0) {
        printf("\t\tSM: %u\n", static_cast<unsigned>(record->SM));
        print_table(record, SMP_TABLE);
    }
}

void print_vnp_qnp_tables(const ResourceTemplate *record)
{
    print_tables(record, VNP_QNP_TABLES);
}

void print_qpnp_tables(const ResourceTemplate *record)
{
    print_tables(record, QPNP_TABLES);
}

void print_qvn_tables(const ResourceTemplate *record)
{
    if ((record->mode & MODE_QVN) != 0) {
        print_tables(record, QVN_TABLES);
    }
}

void print_cbmp_tables(const ResourceTemplate *record)
{
    if ((record->mode & MODE_CBMP) != 0) {
        print_tables(record, CBMP_TABLES);
    }
}

void print_ovnp_table(const ResourceTemplate *record)
{
    if ((record->mode & MODE_OVNP) != 0) {
        print_table(record, OVNP_TABLE);
    }
}

void print_template(const ResourceTemplate *record)
{
    print_basic_config(record);
    print_vnp_qnp_tables(record);
    print_qpnp_tables(record);
    print_qvn_tables(record);
    print_cbmp_tables(record);
    print_ovnp_table(record);
}
