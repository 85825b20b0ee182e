#include "channel/template_exchange.h"

#include <cstring>

#include "channel/tool_message.h"

namespace {

constexpr uint32_t FLAG_STORE = 0x1;
constexpr char TEMPLATE_MAGIC[4] = {'Z', 'Z', 'Z', 'Z'};

// One module 4 request with the magic; the reply overwrites `buffer` in
// place.
int32_t exchange_template(const DeviceTarget &target, ResourceTemplate *buffer)
{
    memcpy(buffer->magic, TEMPLATE_MAGIC, sizeof(buffer->magic));
    return send_request(target, TEMPLATE_MODULE, TEMPLATE_CMD, TEMPLATE_IO_SIZE, TEMPLATE_IO_SIZE,
                        buffer);
}

}  // namespace

int32_t get_template_from_card(DeviceTarget target, ResourceTemplate *dest)
{
    if (dest == nullptr) {
        return STATUS_BAD_ARGUMENT;
    }
    ResourceTemplate buffer{};  // flags 0: a fetch
    buffer.length = TEMPLATE_BASE_LENGTH;

    const int32_t result = exchange_template(target, &buffer);
    if (result == 0 && buffer.status == 0) {
        *dest = buffer;
    }
    return result != 0 ? result : buffer.status;
}

int32_t set_template_to_card(DeviceTarget target, const ResourceTemplate *record)
{
    if (record == nullptr) {
        return STATUS_BAD_ARGUMENT;
    }
    ResourceTemplate buffer = *record;
    buffer.flags |= FLAG_STORE;

    const int32_t result = exchange_template(target, &buffer);
    // The card's verdict comes first: it is what the user needs to see.
    return buffer.status != 0 ? buffer.status : result;
}
