#pragma once

#include <cstdint>
#include <limits>

namespace DriveCore {

// a + b, held at the edge of the 64-bit range instead of overflowing: the engine's figures are
// taken as they come, and absurd ones must not wrap a total.
inline int64_t saturatingSum(int64_t a, int64_t b)
{
    int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum))
        return sum;
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

} // namespace DriveCore
