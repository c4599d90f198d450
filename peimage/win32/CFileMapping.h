// The setup program's read-only mapping of a whole file, over CreateFileW, CreateFileMappingW and
// MapViewOfFile.
#pragma once

#include "peimage/FileMapping.h"
#include "platform/win32/Handle.h"

#include <memory>
#include <string>

namespace peimage::win32 {

class CFileMapping : public ViewMapping {
public:
    ~CFileMapping() override { CFileMapping::close(); }

    // True once the file is open, even when it could not be mapped (an empty file cannot be):
    // such an object reads nothing, and its seek and tell log and answer 0.
    bool open(const std::wstring& fileName) override;
    bool close() override;

    static std::shared_ptr<IFileMapping> make() { return std::make_shared<CFileMapping>(); }

private:
    bool _Open();
    bool _MapView();

    std::wstring mFileName;
    platform::win32::UniqueFile mFile;
    platform::win32::UniqueMapping mMapping;
    platform::win32::UniqueView mView;
};

} // namespace peimage::win32
