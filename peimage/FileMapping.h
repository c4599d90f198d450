// Read-only access to a whole file through a mapped view with a cursor: the interface the image
// reader reads through, the cursor that every implementation shares, and the mapping of a buffer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace peimage {

// Positions are byte offsets from the start of the view. A file larger than 4 GiB shows its low
// 32 bits of size: what lies inside that many bytes is all a reader can reach.
class IFileMapping : public std::enable_shared_from_this<IFileMapping> {
public:
    virtual ~IFileMapping() = default;

    virtual bool open(const std::wstring& fileName) = 0;
    // Always true.
    virtual bool close() = 0;
    virtual uint32_t size() = 0;
    // The cursor's position; 0 (after a log line) when nothing is mapped.
    virtual uint32_t tell() = 0;
    // Copies up to `count` bytes from the cursor and advances it by as many; `*bytesRead` gets
    // their number, or stays untouched when nothing is mapped (callers preset it to 0). Always 0.
    virtual uint32_t read(void* buffer, uint32_t count, uint32_t* bytesRead) = 0;
    // Moves the cursor and answers its previous position. A position at or past the end leaves
    // the cursor and answers 0, which a successful seek from position 0 answers too.
    virtual uint32_t seek(uint32_t position) = 0;
    // The first of size() readable bytes, or null when nothing is mapped.
    virtual const uint8_t* view() = 0;
};

// Makes a fresh, closed mapping; the image reader opens one per file.
using MappingMaker = std::function<std::shared_ptr<IFileMapping>()>;

// The cursor over a view, shared by every mapping: implementations attach a view once they have
// mapped one and detach it when they close.
class ViewMapping : public IFileMapping {
public:
    uint32_t size() override { return mSize; }
    uint32_t tell() override;
    uint32_t read(void* buffer, uint32_t count, uint32_t* bytesRead) override;
    uint32_t seek(uint32_t position) override;
    const uint8_t* view() override { return mView; }

protected:
    // The size may be set without a view: a file that opened but could not be mapped.
    void setSize(uint32_t size) { mSize = size; }
    void attach(const uint8_t* view, uint32_t size);
    void detach();

private:
    const uint8_t* mView = nullptr;
    uint32_t mSize = 0;
    uint32_t mCursor = 0;
    bool mHasCursor = false;
};

// A mapping of bytes already in memory, for packed items, tests and fuzzing. `open` ignores the
// name and shows the bytes; an empty buffer opens with nothing mapped, as an empty file does.
class BufferMapping : public ViewMapping {
public:
    // Borrows the bytes, which must outlive the mapping.
    BufferMapping(const uint8_t* data, size_t size);
    // Owns them.
    explicit BufferMapping(std::vector<uint8_t> bytes);
    ~BufferMapping() override { BufferMapping::close(); }

    bool open(const std::wstring& fileName) override;
    bool close() override;

    static MappingMaker maker(const uint8_t* data, size_t size);

private:
    std::vector<uint8_t> mOwned;
    const uint8_t* mData;
    uint32_t mDataSize;
};

} // namespace peimage
