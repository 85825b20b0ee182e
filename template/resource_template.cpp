#include "template/resource_template.h"

int32_t find_last_set(uint32_t value)
{
    if (value == 0) {
        return 0;
    }
    return 32 - __builtin_clz(value);
}

uint32_t template_length(const ResourceTemplate *record)
{
    int32_t last = find_last_set(record->mode);
    if (last == 0) {
        return TEMPLATE_BASE_LENGTH;
    }
    // Running sums over the blocks in record order. GAN and GCN lie inside
    // the block that starts with SM, so their bit adds nothing of its own.
    switch (1u << (last - 1)) {
        case MODE_MODENAME:
            return 384;
        case MODE_QVN:
            return 672;
        case MODE_SM:
            return 708;
        case MODE_PCIDID:
            return 712;
        case MODE_GAN_GCN:
            return 708;
        case MODE_CBMP:
            return 744;
        case MODE_OVNP:
            return 776;
        default:
            return TEMPLATE_BASE_LENGTH;  // bits above OVNP have no block
    }
}
