// Bounded copy and fill.
#include "bounded/bounded.h"

#include <cstdint>
#include <cstring>

namespace {

bool ranges_overlap(const void *a, const void *b, size_t len)
{
    auto pa = reinterpret_cast<uintptr_t>(a);
    auto pb = reinterpret_cast<uintptr_t>(b);
    return len != 0 && (pa < pb ? pb - pa < len : pa - pb < len);
}

// memset followed by a barrier that claims the bytes are read: the compiler
// cannot drop the fill as a dead store even when dest is about to go away.
void fill_bytes(void *dest, int c, size_t count)
{
    memset(dest, c, count);
    __asm__ __volatile__("" : : "r"(dest) : "memory");
}

}  // namespace

int32_t memcpy_s(void *dest, size_t destMax, const void *src, size_t count)
{
    if (destMax == 0 || destMax > BOUNDED_MAX_LEN) {
        return ERANGE;
    }
    if (dest == nullptr) {
        return EINVAL;
    }
    if (src == nullptr) {
        fill_bytes(dest, 0, destMax);
        return EINVAL_RESET;
    }
    if (count > destMax) {
        fill_bytes(dest, 0, destMax);
        return ERANGE_RESET;
    }
    if (dest != src && ranges_overlap(dest, src, count)) {
        fill_bytes(dest, 0, destMax);
        return EOVERLAP_RESET;
    }
    if (dest != src) {
        memcpy(dest, src, count);
    }
    return 0;
}

int32_t memset_s(void *dest, size_t destMax, int c, size_t count)
{
    if (destMax <= BOUNDED_MAX_LEN && dest != nullptr && count <= destMax) {
        fill_bytes(dest, c, count);
        return 0;
    }
    if (destMax == 0 || destMax > BOUNDED_MAX_LEN) {
        return ERANGE;
    }
    if (dest == nullptr) {
        return EINVAL;
    }
    fill_bytes(dest, c, destMax);
    return ERANGE_RESET;
}
