// The bounded copy, fill and concatenation functions on one arena, so that
// destination and source can overlap in every way. Each call is compared,
// status and every byte of the arena, with a model written from the rules
// the functions promise; calls whose model would read outside the arena are
// skipped, because there the caller broke the contract, not the function.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "bounded/bounded.h"

namespace {

enum Op { STRCPY, STRNCPY, STRCAT, STRNCAT, MEMCPY, MEMSET, OP_COUNT };

struct Call {
    Op op;
    bool null_dest;
    bool null_src;
    size_t dest;  // offsets into the arena
    size_t src;
    size_t dest_max;
    size_t count;
    int fill;
};

// The model's view of the arena: reads past its end make the case void.
struct Model {
    std::vector<uint8_t> bytes;
    bool out_of_arena = false;

    size_t length(size_t at, size_t limit)
    {
        size_t n = 0;
        while (n < limit) {
            if (at + n >= bytes.size()) {
                out_of_arena = true;
                return n;
            }
            if (bytes[at + n] == 0) {
                break;
            }
            ++n;
        }
        return n;
    }
    void reset_string(size_t at) { bytes[at] = 0; }
};

bool overlap(size_t a, size_t a_len, size_t b, size_t b_len)
{
    return a < b + b_len && b < a + a_len;
}

int32_t model_call(const Call &c, Model &m)
{
    const bool bad_size = c.dest_max == 0 || c.dest_max > BOUNDED_MAX_LEN;
    switch (c.op) {
        case MEMSET:
            if (c.dest_max <= BOUNDED_MAX_LEN && !c.null_dest && c.count <= c.dest_max) {
                memset(&m.bytes[c.dest], c.fill, c.count);
                return 0;
            }
            if (bad_size) {
                return ERANGE;
            }
            if (c.null_dest) {
                return EINVAL;
            }
            memset(&m.bytes[c.dest], c.fill, c.dest_max);
            return ERANGE_RESET;
        case MEMCPY:
            if (bad_size) {
                return ERANGE;
            }
            if (c.null_dest) {
                return EINVAL;
            }
            if (c.null_src || c.count > c.dest_max ||
                (c.dest != c.src && overlap(c.dest, c.count, c.src, c.count))) {
                memset(&m.bytes[c.dest], 0, c.dest_max);
                return c.null_src             ? EINVAL_RESET
                       : c.count > c.dest_max ? ERANGE_RESET
                                              : EOVERLAP_RESET;
            }
            if (c.count == 0 || c.dest == c.src) {
                return 0;
            }
            if (c.src + c.count > m.bytes.size()) {
                m.out_of_arena = true;
                return 0;
            }
            memmove(&m.bytes[c.dest], &m.bytes[c.src], c.count);
            return 0;
        default:
            break;
    }

    // The string functions.
    if (bad_size) {
        return ERANGE;
    }
    if (c.null_dest) {
        return EINVAL;
    }
    if (c.null_src) {
        m.reset_string(c.dest);
        return EINVAL_RESET;
    }
    if ((c.op == STRNCPY || c.op == STRNCAT) && c.count > BOUNDED_MAX_LEN) {
        m.reset_string(c.dest);
        return ERANGE_RESET;
    }
    if (c.op == STRCPY || c.op == STRNCPY) {
        size_t len = 0;
        if (c.op == STRCPY) {
            len = m.length(c.src, SIZE_MAX);
            if (len >= c.dest_max) {
                m.reset_string(c.dest);
                return ERANGE_RESET;
            }
            if (c.dest == c.src) {
                return 0;
            }
        } else {
            if (c.count == 0) {
                m.reset_string(c.dest);
                return 0;
            }
            if (c.count >= c.dest_max) {
                len = m.length(c.src, c.dest_max);
                if (len == c.dest_max) {
                    m.reset_string(c.dest);
                    return ERANGE_RESET;
                }
            } else {
                len = m.length(c.src, c.count);
            }
        }
        if (c.dest != c.src && overlap(c.dest, len + 1, c.src, len + 1)) {
            m.reset_string(c.dest);
            return EOVERLAP_RESET;
        }
        if (m.out_of_arena) {
            return 0;
        }
        memmove(&m.bytes[c.dest], &m.bytes[c.src], len);
        m.bytes[c.dest + len] = 0;
        return 0;
    }

    // strcat_s / strncat_s
    size_t dest_len = m.length(c.dest, c.dest_max);
    size_t src_len = m.length(c.src, c.op == STRCAT ? c.dest_max - dest_len : c.count);
    if (m.out_of_arena) {
        return 0;
    }
    bool src_after = c.src > c.dest && c.dest + dest_len + src_len >= c.src;
    bool src_before = c.src < c.dest && c.dest <= c.src + src_len;
    if (src_after || src_before) {
        m.reset_string(c.dest);
        return (c.src >= c.dest + dest_len && dest_len == c.dest_max) ? EINVAL_RESET
                                                                      : EOVERLAP_RESET;
    }
    if (dest_len + src_len < c.dest_max && c.dest != c.src) {
        memmove(&m.bytes[c.dest + dest_len], &m.bytes[c.src], src_len);
        m.bytes[c.dest + dest_len + src_len] = 0;
        return 0;
    }
    m.reset_string(c.dest);
    return dest_len == c.dest_max ? EINVAL_RESET : ERANGE_RESET;
}

int32_t real_call(const Call &c, uint8_t *arena)
{
    auto *dest = c.null_dest ? nullptr : reinterpret_cast<char *>(arena + c.dest);
    auto *src = c.null_src ? nullptr : reinterpret_cast<const char *>(arena + c.src);
    switch (c.op) {
        case STRCPY:
            return strcpy_s(dest, c.dest_max, src);
        case STRNCPY:
            return strncpy_s(dest, c.dest_max, src, c.count);
        case STRCAT:
            return strcat_s(dest, c.dest_max, src);
        case STRNCAT:
            return strncat_s(dest, c.dest_max, src, c.count);
        case MEMCPY:
            return memcpy_s(dest, c.dest_max, src, c.count);
        default:
            return memset_s(dest, c.dest_max, c.fill, c.count);
    }
}

size_t pick_length(FuzzedDataProvider &input, size_t largest)
{
    switch (input.ConsumeIntegralInRange<int>(0, 11)) {
        case 0:
            return BOUNDED_MAX_LEN + 1;
        case 1:
            return SIZE_MAX;
        default:
            return input.ConsumeIntegralInRange<size_t>(0, largest);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    Call c{};
    c.op = static_cast<Op>(input.ConsumeIntegralInRange<int>(0, OP_COUNT - 1));
    size_t arena_size = input.ConsumeIntegralInRange<size_t>(1, 96);
    c.dest = input.ConsumeIntegralInRange<size_t>(0, arena_size - 1);
    c.src = input.ConsumeIntegralInRange<size_t>(0, arena_size - 1);
    // A size that claims more than the arena holds from dest on would let a
    // correct function write past it: only the refused sizes may exceed it.
    c.dest_max = pick_length(input, arena_size - c.dest);
    c.count = pick_length(input, 2 * arena_size);
    c.fill = input.ConsumeIntegral<int>();
    uint8_t nulls = input.ConsumeIntegral<uint8_t>();
    c.null_dest = nulls == 1;
    c.null_src = nulls == 2 && c.op != MEMSET;

    // The arena's bytes: text with NULs where the input puts them.
    auto arena = std::make_unique<uint8_t[]>(arena_size);
    std::vector<uint8_t> bytes = input.ConsumeBytes<uint8_t>(arena_size);
    bytes.resize(arena_size, 0);
    for (uint8_t &b : bytes) {
        b = b < 32 ? 0 : b;  // plenty of terminators
    }
    memcpy(arena.get(), bytes.data(), arena_size);

    Model model{bytes};
    int32_t expected = model_call(c, model);
    if (model.out_of_arena) {
        return 0;
    }
    int32_t result = real_call(c, arena.get());
    if (result != expected || memcmp(arena.get(), model.bytes.data(), arena_size) != 0) {
        fprintf(stderr, "op %d dest %zu src %zu destMax %zu count %zu arena %zu: %d, model %d\n",
                c.op, c.dest, c.src, c.dest_max, c.count, arena_size, result, expected);
        abort();
    }
    return 0;
}
