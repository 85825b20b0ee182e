// The example template files shipped in examples/: the record each one
// describes and how it is written. The example tool writes and checks the
// files from these; the tests load them.
#pragma once

#include <string>
#include <vector>

#include "template/resource_template.h"
#include "tests/template/template_file.h"

namespace zorvitest {

struct ExampleTemplate {
    std::string file_name;  // in examples/
    ResourceTemplate record;
    TemplateFileOptions options;
};

std::vector<ExampleTemplate> example_templates();

}  // namespace zorvitest
