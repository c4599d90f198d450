// The one-byte hand-over between a writer and a reader of shared memory that take no lock
// together: a record's "complete" byte and the header's version byte, each stored last.
#pragma once

#include <cstdint>

namespace trace {

// Every store before this one is visible to a reader that sees the value through loadAcquire.
inline void storeRelease(uint8_t* at, uint8_t value)
{
    __atomic_store_n(at, value, __ATOMIC_RELEASE);
}

// Pairs with storeRelease: once the value is seen, so is everything written before it.
inline uint8_t loadAcquire(const uint8_t* at)
{
    return __atomic_load_n(at, __ATOMIC_ACQUIRE);
}

} // namespace trace
