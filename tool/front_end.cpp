// Command line check, usage text, signals and the display flow.
#include "tool/front_end.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "bounded/status.h"
#include "channel/template_exchange.h"
#include "channel/tool_message.h"
#include "oplog/management.h"
#include "tool/device_name.h"
#include "tool/display.h"

ResourceTemplate g_config{};

namespace {

// The usage text names the tool by this fixed name, whatever argv[0] says.
constexpr const char *TOOL_NAME = "zorviconfig";
constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGTSTP};

}  // namespace

bool str_equal(const char *left, const char *right)
{
    return left != nullptr && right != nullptr && strcmp(left, right) == 0;
}

void print_usage()
{
    puts("\nUsage:");
    printf("\t%s <device, e.g. zorvi0>\n", TOOL_NAME);
    puts("\t\tDisplay resource configuration");
    putchar('\n');
    printf("\t%s <device, e.g. zorvi0> -f|--file [template file]\n", TOOL_NAME);
    puts("\t\tLoad resource configuration template file");
    putchar('\n');
}

int32_t check_args(int argc, const char *const argv[])
{
    if (argc != 2 && argc != 4) {
        print_usage();
        return STATUS_FAILED;
    }
    // Help is tested before the option, so "-h -f x" is refused too.
    if (str_equal(argv[1], "-h") || str_equal(argv[1], "--help")) {
        print_usage();
        return STATUS_FAILED;
    }
    if (argc == 4 && !str_equal(argv[2], "-f") && !str_equal(argv[2], "--file")) {
        print_usage();
        return STATUS_FAILED;
    }
    return 0;
}

int32_t create_fwlog_dir(const char *path)
{
    int32_t status = ensure_folder(path);
    if (status != 0) {
        printf("Firmware log directory[%s] can not be created.\n", path);
    }
    return status;
}

void exit_on_signal(int signal_number)
{
    (void)signal_number;
    _exit(1);
}

void install_signal_handlers()
{
    for (int number : ENDING_SIGNALS) {
        signal(number, exit_on_signal);
    }
}

// Once the card is asked to store, the run goes to its end, so that its
// exit status and both copies of its result record tell what the card did;
// a signal that comes meanwhile is never delivered, and the process ends
// with its own status.
void hold_signals()
{
    sigset_t held;
    sigemptyset(&held);
    for (int number : ENDING_SIGNALS) {
        sigaddset(&held, number);
    }
    sigprocmask(SIG_BLOCK, &held, nullptr);
}

int32_t print_open_failure(int32_t status)
{
    if (status == STATUS_NO_DEVICE) {
        printf("Fail to open: %s\n", TOOL_DEVICE_PATH);
        puts("Create file err!");
    }
    return status;
}

int32_t display_config()
{
    // The card's copy goes into a record of its own, never into g_config.
    ResourceTemplate record{};
    int32_t status = print_open_failure(get_template_from_card(g_device_target, &record));
    if (status != 0) {
        return status;
    }
    print_template(&record);
    return 0;
}
