// The image reader: opening, headers, sections, the resource walk and the version queries.
#include "peimage/Win6432PE.h"

#include "logging/LogLine.h"
#include "peimage/VersionResource.h"
#include "platform/Bytes.h"
#include "platform/TextConvert.h"
#include "trace/DirectTrace.h"

#include <algorithm>
#include <limits>
#include <new>

namespace peimage {

namespace {

using rlxutil::pathItem;
using rlxutil::textItem;

rlxutil::LoggerRef dpxUtil{"DPXUtil"};

// Low-level failures go straight to the trace file, written literally.
void traceLow(const char* text)
{
    trace::traceFormatted("%s", text);
}

uint32_t clampOffset(uint64_t offset)
{
    return static_cast<uint32_t>(std::min<uint64_t>(offset, std::numeric_limits<uint32_t>::max()));
}

// Header layouts (offsets in bytes):
//
//   DOS header, 64 bytes at 0:       +0 e_magic u16 ... +60 e_lfanew u32
//   at e_lfanew:                     +0 Signature "PE\0\0"
//   IMAGE_FILE_HEADER, 20 bytes:     +0 Machine u16  +2 NumberOfSections u16  +4 TimeDateStamp
//                                    +8 PointerToSymbolTable  +12 NumberOfSymbols
//                                    +16 SizeOfOptionalHeader u16  +18 Characteristics u16
//   optional header:                 +0 Magic u16 ... DataDirectory[16] of {VirtualAddress, Size}
//                                    at +96 (PE32, 224 bytes in all) or +112 (PE32+, 240 bytes)
//   section table behind it:         40 bytes each: +0 Name[8]  +8 VirtualSize (Misc)
//                                    +12 VirtualAddress  +16 SizeOfRawData  +20 PointerToRawData
constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kLfanewAt = 60;
constexpr uint32_t kPeSignature = 0x00004550;
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kOptionalHeader32Size = 224;
constexpr uint32_t kOptionalHeader64Size = 240;
constexpr uint32_t kDataDirectory32At = 96;
constexpr uint32_t kDataDirectory64At = 112;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kResourceDirectoryIndex = 2;

// Resource layouts:
//
//   IMAGE_RESOURCE_DIRECTORY, 16 bytes: +0 Characteristics  +4 TimeDateStamp  +8 Major u16
//                                       +10 Minor u16  +12 NumberOfNamedEntries u16
//                                       +14 NumberOfIdEntries u16, then the entries
//   entry, 8 bytes:   +0 Name          high bit: name at root + low 31 bits, else the id in the low 16
//                     +4 OffsetToData  high bit: subdirectory at root + low 31 bits, else a data entry
//   name:             u16 length, then that many UTF-16 units, no terminator
//   IMAGE_RESOURCE_DATA_ENTRY, 16 bytes: +0 OffsetToData (an RVA)  +4 Size  +8 CodePage  +12 Reserved
constexpr uint32_t kDirectorySize = 16;
constexpr uint32_t kEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000u;
// Names are kept to 255 units, as a buffer of 256 with its terminator holds them.
constexpr uint32_t kMaxNameUnits = 255;

const wchar_t* standardTypeName(uint32_t type)
{
    static const wchar_t* const kNames[] = {
        nullptr,      L"RT_CURSOR",       L"RT_BITMAP",       L"RT_ICON", L"RT_MENU",
        L"RT_DIALOG", L"RT_STRING",       L"RT_FONTDIR",      L"RT_FONT", L"RT_ACCELERATOR",
        L"RT_RCDATA", L"RT_MESSAGETABLE", L"RT_GROUP_CURSOR", nullptr,    L"RT_GROUP_ICON",
        nullptr,      L"RT_VERSION",      L"RT_DLGINCLUDE",   nullptr,    L"RT_PLUGPLAY",
        L"RT_VXD",    L"RT_ANICURSOR",    L"RT_ANIICON",      L"RT_HTML", L"RT_MANIFEST"};
    return type < std::size(kNames) ? kNames[type] : nullptr;
}

} // namespace

CWin6432PE::CWin6432PE(MappingMaker makeMapping) : mMakeMapping(std::move(makeMapping)) {}

CWin6432PE::~CWin6432PE()
{
    CWin6432PE::close();
}

bool CWin6432PE::open(const std::wstring& fileName)
{
    // A reader opened again starts from nothing rather than from the last file's tables.
    mDosHeader = {};
    mMachineType = 0;
    mHeaders32 = {};
    mHeaders64 = {};
    mDataDirectory = nullptr;
    mSections.reset();
    mSectionCount = 0;

    mOriginFile = fileName;
    if (mOriginFile.empty())
        return false;
    if (!_OpenPE_File()) {
        dpxUtil->log(3, textItem("CWin6432PE>>open failed"), pathItem("mOriginFile", mOriginFile));
    } else if (!_OpenPE_Header()) {
        dpxUtil->log(2, textItem("_OpenPE_Header"), textItem("Failed to open PE Header"),
                     pathItem("mOriginFile", mOriginFile));
    } else if (_OpenPE_Sections()) {
        return true;
    } else {
        dpxUtil->log(1, textItem("failed to open PE Sections"), pathItem("mOriginFile", mOriginFile));
    }
    dpxUtil->log(2, textItem("CWin6432PE>>open failed"), pathItem("filename", fileName));
    if (mFile) {
        mFile->close();
        mFile.reset();
    }
    return false;
}

bool CWin6432PE::close()
{
    if (mFile) {
        mFile->close();
        mFile.reset();
    }
    mSections.reset();
    mSectionCount = 0;
    mDataDirectory = nullptr;
    return true;
}

uint32_t CWin6432PE::readAt(uint64_t offset, void* buffer, uint32_t count)
{
    if (!mFile)
        return 0;
    // An empty file opens with nothing mapped: the mapping's seek says so in its own line, and
    // the read yields nothing.
    if (!mFile->view()) {
        mFile->seek(clampOffset(offset));
        return 0;
    }
    // A seek outside the file leaves the cursor where it was; reading on from there would take
    // bytes from the wrong place, so such a read is simply short.
    if (offset >= mFile->size())
        return 0;
    mFile->seek(static_cast<uint32_t>(offset));
    uint32_t got = 0;
    mFile->read(buffer, count, &got);
    return got;
}

bool CWin6432PE::_OpenPE_File()
{
    mFile = mMakeMapping ? mMakeMapping() : nullptr;
    return mFile && mFile->open(mOriginFile);
}

bool CWin6432PE::_OpenPE_Header()
{
    if (!mFile)
        return false;
    uint8_t dos[kDosHeaderSize];
    if (readAt(0, dos, sizeof dos) != sizeof dos) {
        traceLow("Failed to read DOS Header");
        return false;
    }
    mDosHeader.e_magic = platform::load16(dos);
    mDosHeader.e_lfanew = platform::load32(dos + kLfanewAt);
    const uint16_t magic = mDosHeader.e_magic;
    if (magic != 0x454C && magic != 0x454E && magic != 0x4550 && magic != 0x5A4D)
        dpxUtil->log(2, textItem("CWin6432PE::_OpenPE_Header"), textItem("Unkown image signature"),
                     rlxutil::uintItem("mDosHeader.e_magic", magic), pathItem("mOriginFile", mOriginFile));

    const uint64_t ntAt = mDosHeader.e_lfanew;
    // No signature stands past the end of the file: that is an invalid one, not a short read.
    if (ntAt >= mFile->size()) {
        traceLow("Invalid Signature");
        return false;
    }
    uint8_t signature[4];
    if (readAt(ntAt, signature, sizeof signature) != sizeof signature) {
        traceLow("Failed to read Signature");
        return false;
    }
    if (platform::load32(signature) != kPeSignature) {
        traceLow("Invalid Signature");
        return false;
    }
    uint8_t fh[kFileHeaderSize];
    if (readAt(ntAt + 4, fh, sizeof fh) != sizeof fh) {
        traceLow("Failed to read File Header");
        return false;
    }
    ImageFileHeader fileHeader;
    fileHeader.Machine = platform::load16(fh);
    fileHeader.NumberOfSections = platform::load16(fh + 2);
    fileHeader.TimeDateStamp = platform::load32(fh + 4);
    fileHeader.PointerToSymbolTable = platform::load32(fh + 8);
    fileHeader.NumberOfSymbols = platform::load32(fh + 12);
    fileHeader.SizeOfOptionalHeader = platform::load16(fh + 16);
    fileHeader.Characteristics = platform::load16(fh + 18);
    mMachineType = fileHeader.Machine;

    ImageNtHeaders* headers = nullptr;
    uint32_t optionalSize = 0, directoryAt = 0;
    if (mMachineType == kMachineI386) {
        dpxUtil->log(1, textItem("CWin6432PE::_OpenPE_Header"), textItem("I386"),
                     pathItem("mOriginFile", mOriginFile));
        headers = &mHeaders32;
        optionalSize = kOptionalHeader32Size;
        directoryAt = kDataDirectory32At;
    } else if (mMachineType == kMachineAmd64) {
        dpxUtil->log(1, textItem("CWin6432PE::_OpenPE_Header"), textItem("AMD64"),
                     pathItem("mOriginFile", mOriginFile));
        headers = &mHeaders64;
        optionalSize = kOptionalHeader64Size;
        directoryAt = kDataDirectory64At;
    } else {
        dpxUtil->log(2, textItem("CWin6432PE::_OpenPE_Header"),
                     rlxutil::uintItem("mMachineType", mMachineType));
        return true;
    }
    headers->Signature = kPeSignature;
    headers->FileHeader = fileHeader;
    uint8_t optional[kOptionalHeader64Size];
    if (readAt(ntAt + 4 + kFileHeaderSize, optional, optionalSize) != optionalSize) {
        traceLow("Failed to read Optional Header");
        return true;
    }
    headers->Magic = platform::load16(optional);
    for (uint32_t i = 0; i < 16; ++i) {
        headers->DataDirectory[i].VirtualAddress = platform::load32(optional + directoryAt + 8 * i);
        headers->DataDirectory[i].Size = platform::load32(optional + directoryAt + 8 * i + 4);
    }
    mDataDirectory = headers->DataDirectory;
    return true;
}

bool CWin6432PE::_OpenPE_Sections()
{
    const bool is64 = mMachineType == kMachineAmd64;
    const uint32_t count = (is64 ? mHeaders64 : mHeaders32).FileHeader.NumberOfSections;
    if (count == 0)
        return true;
    const uint64_t tableAt = uint64_t(mDosHeader.e_lfanew) + 4 + kFileHeaderSize +
                             (is64 ? kOptionalHeader64Size : kOptionalHeader32Size);
    // Only a table that the file really holds is allocated, whatever the count says.
    if (tableAt + uint64_t(count) * kSectionHeaderSize > mFile->size()) {
        traceLow("Failed to Sections");
        return false;
    }
    mSections.reset(new (std::nothrow) ImageSectionHeader[count]);
    if (!mSections) {
        traceLow("CWin6432PE>>_OpenPE_Sections, memory error");
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t bytes[kSectionHeaderSize];
        if (readAt(tableAt + uint64_t(i) * kSectionHeaderSize, bytes, sizeof bytes) != sizeof bytes) {
            mSections.reset();
            traceLow("Failed to Sections");
            return false;
        }
        mSections[i].VirtualSize = platform::load32(bytes + 8);
        mSections[i].VirtualAddress = platform::load32(bytes + 12);
        mSections[i].SizeOfRawData = platform::load32(bytes + 16);
        mSections[i].PointerToRawData = platform::load32(bytes + 20);
    }
    mSectionCount = count;
    return true;
}

uint32_t CWin6432PE::resolveRva(uint32_t rva) const
{
    for (uint32_t i = 0; i < mSectionCount; ++i) {
        const ImageSectionHeader& s = mSections[i];
        if (s.VirtualAddress <= rva && uint64_t(rva) < uint64_t(s.VirtualAddress) + s.VirtualSize) {
            const uint64_t offset = uint64_t(rva) - s.VirtualAddress + s.PointerToRawData;
            return offset > std::numeric_limits<uint32_t>::max() ? 0 : static_cast<uint32_t>(offset);
        }
    }
    return 0;
}

bool CWin6432PE::enumResources(const ResourceVisitor& visitor)
{
    if (!mFile)
        return false;
    // An image without a data directory (an unknown machine, a short optional header) has no
    // resources as far as this reader knows.
    if (!mDataDirectory || mDataDirectory[kResourceDirectoryIndex].VirtualAddress == 0) {
        dpxUtil->log(1, textItem("No IMAGE_RESOURCE_DIRECTORY"));
        return false;
    }
    const uint32_t base = resolveRva(mDataDirectory[kResourceDirectoryIndex].VirtualAddress);
    if (base == 0) {
        traceLow("failed to resolve RVA");
        return false;
    }
    ResourceItem root;
    root.baseOffset = base;
    root.entryOffset = base;
    // Every entry of a sound tree has 8 bytes of the file to itself.
    mWalkBudget = mFile->size() / kEntrySize;
    loadResourceDirectory(root, base, visitor);
    return true;
}

int CWin6432PE::loadResourceDirectory(const ResourceItem& parent, uint32_t offset,
                                      const ResourceVisitor& visitor)
{
    uint8_t directory[kDirectorySize];
    if (readAt(offset, directory, sizeof directory) != sizeof directory) {
        traceLow("Failed to read file");
        return 0;
    }
    const uint32_t n = uint32_t(platform::load16(directory + 12)) + platform::load16(directory + 14);
    if (n == 0)
        return 1;
    const uint64_t entriesAt = uint64_t(offset) + kDirectorySize;
    if (entriesAt + uint64_t(n) * kEntrySize > mFile->size()) {
        traceLow("Failed to read file");
        return 1;
    }
    if (parent.level >= kMaxDirectoryLevel || n > mWalkBudget) {
        traceLow("CWin6432PE>>loadResourceDirectory, resource tree loops or is too deep");
        return 0;
    }
    mWalkBudget -= n;

    const uint32_t base = parent.baseOffset;
    int result = 1;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t entry[kEntrySize];
        readAt(entriesAt + uint64_t(i) * kEntrySize, entry, sizeof entry); // inside the checked range
        const uint32_t name = platform::load32(entry);
        const uint32_t offsetToData = platform::load32(entry + 4);

        ResourceItem child = parent;
        child.level = parent.level + 1;
        if (name & kHighBit) {
            const uint64_t nameAt = uint64_t(base) + (name & ~kHighBit);
            uint8_t length[2];
            if (readAt(nameAt, length, sizeof length) != sizeof length) {
                traceLow("Failed to read file");
                return result;
            }
            const uint32_t units = platform::load16(length);
            if (nameAt + 2 + uint64_t(units) * 2 > mFile->size()) {
                traceLow("Failed to read file");
                return result;
            }
            uint8_t text[kMaxNameUnits * 2];
            const uint32_t kept = std::min(units, kMaxNameUnits);
            readAt(nameAt + 2, text, kept * 2);
            std::u16string utf16(kept, u'\0');
            for (uint32_t u = 0; u < kept; ++u)
                utf16[u] = platform::load16(text + 2 * u);
            child.name = platform::utf16ToWide(utf16);
        } else {
            const uint32_t id = name & 0xFFFF;
            if (child.level == 1)
                child.type = id;
            else if (child.level == 2)
                child.nameId = id;
            else if (child.level == 3)
                child.language = id;
        }
        if (offsetToData & kHighBit) {
            child.entryOffset = clampOffset(uint64_t(base) + (offsetToData & ~kHighBit));
            result = loadResourceDirectory(child, child.entryOffset, visitor);
        } else {
            child.entryOffset = clampOffset(uint64_t(base) + offsetToData);
            result = loadResourceItem(child, visitor);
        }
        if (result == 0)
            break;
    }
    return result;
}

int CWin6432PE::loadResourceItem(ResourceItem& item, const ResourceVisitor& visitor)
{
    uint8_t entry[kDataEntrySize];
    if (readAt(item.entryOffset, entry, sizeof entry) != sizeof entry) {
        traceLow("Failed to read file");
        return 0;
    }
    const uint32_t dataOffset = resolveRva(platform::load32(entry));
    const uint32_t dataSize = platform::load32(entry + 4);
    if (dataOffset == 0) {
        traceLow("failed to resolve RVA");
        return 0;
    }
    // The data is looked at in place, so a size the file cannot hold allocates nothing.
    const uint8_t* view = mFile->view();
    if (!view || uint64_t(dataOffset) + dataSize > mFile->size()) {
        traceLow("Failed to read file");
        return 0;
    }
    item.dataOffset = dataOffset;
    item.dataSize = dataSize;
    item.data = view + dataOffset;
    if (const wchar_t* typeName = standardTypeName(item.type))
        item.name = typeName;
    return visitor ? visitor(&item) : 1;
}

std::wstring CWin6432PE::queryVersion(const std::function<std::wstring(const uint8_t*, uint32_t)>& query)
{
    std::wstring result;
    enumResources([&](ResourceItem* item) {
        if (item->type != kResourceTypeVersion)
            return 1;
        result = query(item->data, item->dataSize);
        return 0;
    });
    return result;
}

std::wstring CWin6432PE::getFileVersion()
{
    return queryVersion(fixedFileVersion);
}

std::wstring CWin6432PE::getProductVersion()
{
    return queryVersion(fixedProductVersion);
}

std::wstring CWin6432PE::getVersionString(const std::wstring& key)
{
    return queryVersion(
        [&key](const uint8_t* data, uint32_t size) { return versionString(data, size, key); });
}

} // namespace peimage
