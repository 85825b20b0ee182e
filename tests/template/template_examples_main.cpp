// Writes the example template files, or checks that the files on disk are
// exactly what their records give (values, comments and METADATA).
//   template_examples write DIR
//   template_examples check DIR
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/template/example_templates.h"

int main(int argc, char **argv)
{
    if (argc != 3 || (strcmp(argv[1], "write") != 0 && strcmp(argv[1], "check") != 0)) {
        fprintf(stderr, "usage: %s write|check DIR\n", argv[0]);
        return 2;
    }
    const bool write = strcmp(argv[1], "write") == 0;
    int failures = 0;
    for (const zorvitest::ExampleTemplate &example : zorvitest::example_templates()) {
        const std::string path = std::string(argv[2]) + "/" + example.file_name;
        const std::string text = zorvitest::render_template_file(example.record, example.options);
        if (write) {
            zorvitest::write_text_file(path, text);
        }
        if (zorvitest::read_text_file(path) != text) {
            printf("%s differs from its record; run: %s write %s\n", path.c_str(), argv[0],
                   argv[2]);
            ++failures;
        } else if (write) {
            printf("wrote %s\n", path.c_str());
        }
    }
    return failures == 0 ? 0 : 1;
}
