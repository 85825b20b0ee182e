#include "tool/open_failure.h"

#include <cstdio>

#include "bounded/status.h"
#include "channel/tool_message.h"

int32_t print_open_failure(int32_t status)
{
    if (status == STATUS_NO_DEVICE) {
        printf("Fail to open: %s\n", TOOL_DEVICE_PATH);
        puts("Create file err!");
    }
    return status;
}
