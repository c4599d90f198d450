// The shared cursor over a mapped view, and the mapping of a buffer.
#include "peimage/FileMapping.h"

#include "logging/LogItem.h"
#include "logging/Logger.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace peimage {

namespace {

// The one message both seek and tell give without a view, wording and all.
void logNotOpened()
{
    rlxutil::getLogger("DPXUtil")->log(2,
                                       rlxutil::LogItem(rlxutil::textValue("Write file failed, not opened")));
}

uint32_t clampSize(size_t size)
{
    return static_cast<uint32_t>(std::min<uint64_t>(size, std::numeric_limits<uint32_t>::max()));
}

} // namespace

void ViewMapping::attach(const uint8_t* view, uint32_t size)
{
    mView = view;
    mSize = size;
    mCursor = 0;
    mHasCursor = view != nullptr;
}

void ViewMapping::detach()
{
    mView = nullptr;
    mSize = 0;
    mCursor = 0;
    mHasCursor = false;
}

uint32_t ViewMapping::tell()
{
    if (!mView || !mHasCursor) {
        logNotOpened();
        return 0;
    }
    return mCursor;
}

uint32_t ViewMapping::read(void* buffer, uint32_t count, uint32_t* bytesRead)
{
    if (!mView || !mHasCursor)
        return 0;
    const uint32_t n = std::min(count, mSize - mCursor);
    if (n > 0)
        std::memcpy(buffer, mView + mCursor, n);
    if (bytesRead)
        *bytesRead = n;
    mCursor += n;
    return 0;
}

uint32_t ViewMapping::seek(uint32_t position)
{
    if (!mView || !mHasCursor) {
        logNotOpened();
        return 0;
    }
    if (position >= mSize)
        return 0;
    const uint32_t previous = mCursor;
    mCursor = position;
    return previous;
}

BufferMapping::BufferMapping(const uint8_t* data, size_t size) : mData(data), mDataSize(clampSize(size)) {}

BufferMapping::BufferMapping(std::vector<uint8_t> bytes)
    : mOwned(std::move(bytes)), mData(mOwned.data()), mDataSize(clampSize(mOwned.size()))
{
}

bool BufferMapping::open(const std::wstring&)
{
    if (mDataSize > 0)
        attach(mData, mDataSize);
    return true;
}

bool BufferMapping::close()
{
    detach();
    return true;
}

MappingMaker BufferMapping::maker(const uint8_t* data, size_t size)
{
    return [data, size] { return std::make_shared<BufferMapping>(data, size); };
}

} // namespace peimage
