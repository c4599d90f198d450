// A mapping of a file by path through the host's read-only file mapping, for the tools, tests and
// benchmarks on every system (the setup program uses the Win32 one in win32/).
#pragma once

#include "peimage/FileMapping.h"
#include "platform/Host.h"

#include <string>

namespace peimage {

class HostFileMapping : public ViewMapping {
public:
    ~HostFileMapping() override { HostFileMapping::close(); }

    // Refuses what is not a regular file; an empty file opens with nothing mapped.
    bool open(const std::wstring& fileName) override;
    bool close() override;

    // Why the last open failed, in a few words.
    const std::string& problem() const { return mProblem; }

    static std::shared_ptr<IFileMapping> make() { return std::make_shared<HostFileMapping>(); }

private:
    platform::MappedFile mFile;
    std::string mProblem;
};

} // namespace peimage
