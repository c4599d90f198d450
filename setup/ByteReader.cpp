// The in-memory positioned byte source.
#include "setup/ByteReader.h"

#include <cstring>

namespace setup {

size_t MemoryReader::read(uint8_t* destination, size_t count)
{
    if (mPosition >= mSize)
        return 0;
    const size_t available = static_cast<size_t>(mSize - mPosition);
    const size_t n = count < available ? count : available;
    std::memcpy(destination, mData + mPosition, n);
    mPosition += n;
    return n;
}

} // namespace setup
