// The few file operations of the system that OutputFile is written over, once, in
// platform/OutputFile.cpp: look at a name, create exclusively, write, seal, place, list, clean up.
// platform/posix and platform/win32 give them; nothing outside the host libraries calls them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::primitives {

enum class Kind { absent, regular, folder, link, other };

struct Entry {
    Kind kind = Kind::absent;
    uint32_t permissions = 0; // of an existing file, where the system has them; 0 otherwise
};

// What is at `path`, a link taken as itself. A missing folder on the way counts as absent: it
// shows when something is created there. False, with the problem, when the system cannot tell.
bool look(const std::string& path, Entry& entry, std::string& problem);

// One file open for writing, held by the system's handle.
struct NativeFile;
struct NativeFileCloser {
    void operator()(NativeFile* file) const;
};
using UniqueNativeFile = std::unique_ptr<NativeFile, NativeFileCloser>;

enum class Created { created, nameTaken, failed };

// Creates `path` for writing, never opening what exists under the name (a planted link
// included), with `permissions` where not 0, and held so that removeUnheld() leaves it alone.
Created createExclusive(const std::string& path, uint32_t permissions, UniqueNativeFile& file,
                        std::string& problem);
bool writeAll(NativeFile& file, const uint8_t* data, size_t size, std::string& problem);
// Puts what was written on disk, reporting the errors of writes the system delayed, and makes
// the file ready to be renamed.
bool seal(NativeFile& file, std::string& problem);
// Lets go of the file after it was placed; false with the problem when the system reports a
// late error.
bool finish(UniqueNativeFile& file, std::string& problem);

// Renames `from` to `to` in one step: replacing a file there when `replace`, else only where the
// name is free (then a taken name gives "already exists").
bool place(const std::string& from, const std::string& to, bool replace, std::string& problem);

// Names in `folder` (empty: the current one) that start with `prefix` and end with `suffix`,
// compared as the system compares names.
std::vector<std::string> list(const std::string& folder, const std::string& prefix, const std::string& suffix);
// Removes a file that no running writer holds; a folder, or a file still held, stays.
void removeUnheld(const std::string& path);
void remove(const std::string& path);

} // namespace platform::primitives
