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
    // Where the bytes go until the file is closed.
    virtual const std::wstring& path() const = 0;
    // False when not every byte went to the file.
    virtual bool write(const uint8_t* data, size_t size) = 0;
    // Puts the file in place; false when it did not get there whole. Called once.
    virtual bool close() = 0;
    // Drops what was written: a cut body must replace nothing. Called instead of close().
    virtual void abandon() = 0;
    // The system's error number of the first failed write or close.
    virtual uint32_t error() const = 0;
};

// How a replacement reports its swap: a plug-in module quietly but for its failures, an item with
// the forced copy's lines.
enum class ReplaceLines { quiet, forcedCopy };

// Everything the run asks of the system. The install configuration's needs come with it, so one
// object stands for the system in the whole run.
class InstallHost : public InstallEnvironment {
public:
    // Lowercases with the system's mapping, as item names are compared and installed.
    virtual void toLower(std::wstring& text) = 0;
    virtual bool pathExists(const std::wstring& path) = 0;
    // A new file beside `target`, under a name of this run's own, that takes its place whole when
    // closed, with one rename (a target in use is moved aside first); until then, and when
    // abandoned or cut short, the target stays as it was. Null, with the reason left for
    // lastError(), when it cannot be made.
    virtual std::unique_ptr<ItemWriter> createReplacement(const std::wstring& target, ReplaceLines lines) = 0;
    // The system's error number of the last failed call, read once.
    virtual uint32_t lastError() = 0;
    // The file version of an executable file, empty when it cannot be read.
    virtual std::wstring fileVersion(const std::wstring& path) = 0;
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
