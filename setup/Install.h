// The install run over a decoded payload: the directory read from its end, every item installed
// where it belongs, and the follow-up programs started, with the system behind InstallHost.
#pragma once

#include "setup/ByteReader.h"
#include "setup/InstallConfig.h"
#include "setup/PackageDirectory.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace setup {

// A file the run writes, from empty, in pieces given in order.
class ItemWriter {
public:
    virtual ~ItemWriter() = default;
    // False when not every byte went to the file.
    virtual bool write(const uint8_t* data, size_t size) = 0;
    // Closes the file; false when not everything written is in it. Called once.
    virtual bool close() = 0;
    // Closes the file without keeping what was written: a cut body must replace nothing. Called
    // instead of close().
    virtual void abandon() = 0;
    // The system's error number of the first failed write or close.
    virtual uint32_t error() const = 0;
};

// Everything the run asks of the system. The install configuration's needs come with it, so one
// object stands for the system in the whole run.
class InstallHost : public InstallEnvironment {
public:
    // Lowercases with the system's mapping, as item names are compared and installed.
    virtual void toLower(std::wstring& text) = 0;
    // The temporary folder, with its trailing backslash.
    virtual std::wstring tempFolder() = 0;
    virtual bool pathExists(const std::wstring& path) = 0;
    // A new empty file of a unique name in the folder, named by the system from the prefix;
    // empty, with the reason left for lastError(), when none can be made.
    virtual std::wstring makeTempFile(const std::wstring& folder, const std::wstring& prefix) = 0;
    // Opens the file for binary writing, emptied; null when it cannot be opened, with the
    // reason left for lastError().
    virtual std::unique_ptr<ItemWriter> create(const std::wstring& path) = 0;
    // A new file beside `target` that takes its place whole when closed, with one rename (a
    // target in use is moved aside first); until then, and when abandoned or cut short, the
    // target stays as it was. Null, with the reason left for lastError(), when it cannot be made.
    virtual std::unique_ptr<ItemWriter> createReplacement(const std::wstring& target) = 0;
    // The system's error number of the last failed call, read once.
    virtual uint32_t lastError() = 0;
    // The file version of an executable file, empty when it cannot be read.
    virtual std::wstring fileVersion(const std::wstring& path) = 0;
    // Copies `from` over `to`, moving a target in use aside; logs its own failures.
    virtual void replaceFile(const std::wstring& from, const std::wstring& to) = 0;
    // Deletes the file; logs its own failure.
    virtual void deleteFile(const std::wstring& path) = 0;
    // Deletes the file without a word, whatever comes of it.
    virtual void removeFile(const std::wstring& path) = 0;
    // The browser plug-in folders in the order they are tried: Chrome's, Firefox's per-user
    // plug-in folder, the Firefox profile's, then the shared fallback; empty where there is none.
    virtual std::array<std::wstring, 4> pluginFolders() = 0;
    // Starts the program with exactly this command line and does not wait; whether it started.
    // Neither is longer than the system takes: the run refuses longer ones itself.
    virtual bool launch(const std::wstring& program, const std::wstring& commandLine) = 0;
};

// The directory block at the payload's end, parsed; false, without a line, when the block cannot
// be located, allocated or read. Nothing outside the payload is read, and the block is never
// larger than the payload.
bool readPayloadDirectory(ByteReader& payload, PackageHeader& header);

// Installs the payload's items in directory order: the configuration sets the install state, the
// plug-in module goes to the browser folders, every other item to the install folder. A body that
// does not lie inside the payload ends the walk; bodies are copied in pieces, never held whole.
// False when the directory could not be had: nothing was installed and nothing is to be started.
// `destDir` is the extraction folder.
bool installItems(ByteReader& payload, const std::wstring& destDir, InstallHost& host);

// Starts the two configured follow-up programs, each only when its path is set.
void launchFollowUps(InstallHost& host);

// installItems, then launchFollowUps when the walk was reached: the whole run over one payload.
void installPayload(ByteReader& payload, const std::wstring& destDir, InstallHost& host);

} // namespace setup
