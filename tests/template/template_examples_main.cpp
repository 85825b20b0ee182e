// Writes the example template files, checks that the files on disk are
// exactly what their records give (values, comments and METADATA), or prints
// the METADATA that any template file needs.
//   template_examples write DIR
//   template_examples check DIR
//   template_examples metadata FILE
#include <cstdio>
#include <cstring>
#include <string>

#include "channel/template_exchange.h"
#include "fileaccess/ini_reader.h"
#include "template/template_parser.h"
#include "tests/template/example_templates.h"
#include "tests/template/fake_card.h"

namespace {

int write_or_check(const char *program, const char *dir, bool write)
{
    int failures = 0;
    for (const zorvitest::ExampleTemplate &example : zorvitest::example_templates()) {
        const std::string path = std::string(dir) + "/" + example.file_name;
        const std::string text = zorvitest::render_template_file(example.record, example.options);
        if (write) {
            zorvitest::write_text_file(path, text);
        }
        if (zorvitest::read_text_file(path) != text) {
            printf("%s differs from its record; run: %s write %s\n", path.c_str(), program, dir);
            ++failures;
        } else if (write) {
            printf("wrote %s\n", path.c_str());
        }
    }
    return failures == 0 ? 0 : 1;
}

// The file is parsed exactly as the tool parses it, against a card whose id
// is the file's own PCIDID, so every value is checked and the record is the
// one the card would receive. Only the METADATA check may fail.
int print_metadata(const char *path)
{
    uint32_t file_pcidid = 0;
    if (get_uint_key_value(path, "INFO", "PCIDID", &file_pcidid) != 0) {
        printf("%s: PCIDID is needed (the card's PCI device id)\n", path);
        return 1;
    }
    zorvitest::g_fake_card.pci_device_id = file_pcidid;
    ResourceTemplate record{};
    const int32_t status = parse_template_file(path, &record);
    if (status != 0 && zorvitest::g_fake_card.pci_queries == 0) {
        return 1;  // a value failed before the card checks; the parser said which
    }
    const uint32_t metadata =
        template_crc32(reinterpret_cast<const uint8_t *>(&record) + TEMPLATE_BODY_OFFSET,
                       template_length(&record));
    printf("METADATA = 0x%08X\n", metadata);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "metadata") == 0) {
        return print_metadata(argv[2]);
    }
    if (argc != 3 || (strcmp(argv[1], "write") != 0 && strcmp(argv[1], "check") != 0)) {
        fprintf(stderr, "usage: %s write|check DIR\n       %s metadata FILE\n", argv[0], argv[0]);
        return 2;
    }
    return write_or_check(argv[0], argv[2], strcmp(argv[1], "write") == 0);
}
