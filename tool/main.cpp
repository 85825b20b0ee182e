// Entry point: start-up in a fixed order, then the display or the load flow.
#include <cstdio>

#include "channel/template_exchange.h"
#include "oplog/management.h"
#include "oplog/operation_log.h"
#include "oplog/run_records.h"
#include "tool/confirm.h"
#include "tool/device_name.h"
#include "tool/display.h"
#include "tool/load.h"
#include "tool/open_failure.h"
#include "tool/signals.h"
#include "tool/usage.h"

// The load flow's record: the parse fills it and the store sends it.
ResourceTemplate g_config{};

namespace {

constexpr const char *FWLOG_FOLDER = "/opt/zorvi/fwlog/";
constexpr int EXIT_REFUSED = -1;  // the shell sees 255
constexpr int EXIT_FAILED = 1;

int32_t create_fwlog_dir(const char *path)
{
    int32_t status = ensure_folder(path);
    if (status != 0) {
        printf("Firmware log directory[%s] can not be created.\n", path);
    }
    return status;
}

int run_display()
{
    int32_t status = display_config();
    if (status == 0) {
        return 0;
    }
    puts("Cannot find template in card, maybe it's empty.");
    puts("Note: the template is empty by default.");
    // The card answered (an empty card says so with its status byte); only a
    // request that never reached it is a failure of the run.
    return status < 0 ? EXIT_FAILED : 0;
}

int run_load(const char *file)
{
    printf("\nTemplate %s will be configured to device %s\n", file, g_device_target.name);
    int32_t status = confirm_operation();
    if (status == 0) {
        status = write_begin_log();
    }
    if (status == 0) {
        status = parse_template_file(file, &g_config);
    }
    if (status == 0) {
        hold_signals();
        status = print_open_failure(set_template_to_card(g_device_target, &g_config));
    }
    if (status != 0) {
        puts("Operation failed.");
        // Writes nothing unless the begin record went out in this run.
        write_result_log(status);
        return EXIT_FAILED;
    }
    write_result_log(0);
    printf(
        "Succeed to configure device %s\n"
        "Please reboot OS for the new configure to take effect\n",
        g_device_target.name);
    return 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    const char *const *args = argv;
    int32_t status = check_args(argc, args);
    if (status == 0) {
        status = init_operation_log(MANAGEMENT_FOLDER);
    }
    if (status == 0) {
        status = create_fwlog_dir(FWLOG_FOLDER);
    }
    if (status != 0) {
        return status;
    }
    record_user_input(static_cast<uint32_t>(argc), args);
    install_signal_handlers();

    g_device_target.id = -1;
    if (parse_device_name(args[1], &g_device_target) != 0) {
        print_usage();
        return EXIT_REFUSED;
    }
    return argc == 2 ? run_display() : run_load(args[3]);
}
