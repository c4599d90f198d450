// The executable image reader: headers, section table and resource tree of a 32-bit or 64-bit
// Windows executable, and the version numbers and strings of its version resource, read through
// a file mapping without loading the image.
//
// Contract: every byte comes through the mapping's interface or from inside its view, after a
// check that it lies within size(); nothing outside the mapping is ever read. A malformed image
// gives a failed open or an empty query result. Memory stays bounded by the file size whatever
// counts the file claims: the section table is allocated only once it is known to fit in the
// file, directory entries and resource data are read in place, and the resource walk ends after
// as many directory entries as the file could hold, so a tree that loops or shares subtrees
// still ends.
#pragma once

#include "peimage/FileMapping.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace peimage {

// One entry on the path from the resource root to a leaf, as a visitor sees it. A child starts
// as a copy of its parent, one level deeper, and sets the field of its own level only.
struct ResourceItem {
    std::wstring name;     // the last named entry on the path; at a leaf of a standard type its name
    uint32_t type = 0;     // id at level 1
    uint32_t nameId = 0;   // id at level 2
    uint32_t language = 0; // id at level 3
    uint32_t level = 0;    // 0 root, 1 type, 2 name, 3 language
    uint32_t baseOffset = 0;
    uint32_t entryOffset = 0;
    uint32_t dataOffset = 0; // leaves only
    uint32_t dataSize = 0;   // leaves only
    // The leaf's data inside the mapping, valid while the visitor runs: read in place rather than
    // copied, so a walk past many icons costs only the pages it looks at.
    const uint8_t* data = nullptr;
};

// Returns 0 to end the walk, anything else to go on.
using ResourceVisitor = std::function<int(ResourceItem*)>;

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint32_t kResourceTypeVersion = 16;

class IWin6432PE : public std::enable_shared_from_this<IWin6432PE> {
public:
    virtual ~IWin6432PE() = default;
    virtual bool open(const std::wstring& fileName) = 0;
    virtual bool close() = 0;
    // Four dotted decimal numbers, or empty.
    virtual std::wstring getFileVersion() = 0;
    virtual std::wstring getProductVersion() = 0;
    // The value of `key` (any letter case) in the version resource's first string table, or empty.
    virtual std::wstring getVersionString(const std::wstring& key) = 0;
    virtual uint16_t getMachineType() = 0;
};

struct ImageDosHeader {
    uint16_t e_magic = 0;
    uint32_t e_lfanew = 0;
};

struct ImageFileHeader {
    uint16_t Machine = 0;
    uint16_t NumberOfSections = 0;
    uint32_t TimeDateStamp = 0;
    uint32_t PointerToSymbolTable = 0;
    uint32_t NumberOfSymbols = 0;
    uint16_t SizeOfOptionalHeader = 0;
    uint16_t Characteristics = 0;
};

struct ImageDataDirectory {
    uint32_t VirtualAddress = 0;
    uint32_t Size = 0;
};

// The signature, the file header and of the optional header what the reader uses.
struct ImageNtHeaders {
    uint32_t Signature = 0;
    ImageFileHeader FileHeader;
    uint16_t Magic = 0;
    ImageDataDirectory DataDirectory[16];
};

struct ImageSectionHeader {
    uint32_t VirtualSize = 0; // the Misc field
    uint32_t VirtualAddress = 0;
    uint32_t SizeOfRawData = 0;
    uint32_t PointerToRawData = 0;
};

class CWin6432PE : public IWin6432PE {
public:
    // The reader opens each file through a fresh mapping from `makeMapping`.
    explicit CWin6432PE(MappingMaker makeMapping);
    ~CWin6432PE() override;
    CWin6432PE(const CWin6432PE&) = delete;
    CWin6432PE& operator=(const CWin6432PE&) = delete;

    bool open(const std::wstring& fileName) override;
    bool close() override;
    std::wstring getFileVersion() override;
    std::wstring getProductVersion() override;
    std::wstring getVersionString(const std::wstring& key) override;
    uint16_t getMachineType() override { return mMachineType; }

    // Visits every leaf of the resource tree in directory order until the visitor returns 0.
    // False when the image has no resource directory or it cannot be located.
    bool enumResources(const ResourceVisitor& visitor);
    // The file offset of a relative virtual address, or 0 when no section holds it.
    uint32_t resolveRva(uint32_t rva) const;
    bool hasDataDirectory() const { return mDataDirectory != nullptr; }

    // Deepest level a resource subdirectory may sit at; real trees stop at 2.
    static constexpr uint32_t kMaxDirectoryLevel = 16;

private:
    bool _OpenPE_File();
    bool _OpenPE_Header();
    bool _OpenPE_Sections();
    int loadResourceDirectory(const ResourceItem& parent, uint32_t offset, const ResourceVisitor& visitor);
    int loadResourceItem(ResourceItem& item, const ResourceVisitor& visitor);
    // Reads at a file offset; the number of bytes that came, 0 for an offset outside the file.
    uint32_t readAt(uint64_t offset, void* buffer, uint32_t count);
    // Runs the walk with a visitor that hands the first version resource to `query`.
    std::wstring queryVersion(const std::function<std::wstring(const uint8_t*, uint32_t)>& query);

    MappingMaker mMakeMapping;
    std::shared_ptr<IFileMapping> mFile;
    std::wstring mOriginFile;
    ImageDosHeader mDosHeader;
    uint16_t mMachineType = 0;
    ImageNtHeaders mHeaders32; // filled for I386
    ImageNtHeaders mHeaders64; // filled for AMD64
    const ImageDataDirectory* mDataDirectory = nullptr;
    std::unique_ptr<ImageSectionHeader[]> mSections;
    uint32_t mSectionCount = 0;
    uint64_t mWalkBudget = 0; // directory entries the running walk may still visit
};

} // namespace peimage
