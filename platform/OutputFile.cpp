// OutputFile's sequence, the same on every system: an exclusive temporary beside the target,
// written, sealed and renamed into place; stale temporaries of killed runs removed first.
#include "platform/FilePrimitives.h"
#include "platform/Host.h"

#include <chrono>
#include <random>

namespace platform {

namespace {

namespace sys = primitives;

constexpr const char kPartSuffix[] = ".kvpack-part";
constexpr size_t kSerialDigits = 16;

// What an existing target that must not be replaced is, in a few words; empty for a regular file.
std::string kindProblem(sys::Kind kind)
{
    switch (kind) {
    case sys::Kind::absent:
    case sys::Kind::regular:
        return "";
    case sys::Kind::folder:
        return "is a folder, not a file";
    case sys::Kind::link:
        return "is a symbolic link, not a regular file";
    case sys::Kind::other:
        break;
    }
    return "is not a regular file";
}

// Whether the target may be written: absent, or a regular file that may be replaced.
bool checkTarget(const std::string& target, Existing existing, sys::Entry& entry, std::string& problem)
{
    const std::string name = fileNameOf(target);
    if (name.empty() || name == "." || name == "..") {
        problem = "is a folder, not a file";
        return false;
    }
    if (!sys::look(target, entry, problem))
        return false;
    problem = kindProblem(entry.kind);
    if (problem.empty() && entry.kind == sys::Kind::regular && existing == Existing::refuse)
        problem = "already exists";
    return problem.empty();
}

bool isSerial(const std::string& text)
{
    if (text.size() != kSerialDigits)
        return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

std::string folderOf(const std::string& target)
{
    return target.substr(0, target.size() - fileNameOf(target).size());
}

// Temporaries that runs killed part-way left beside the target; those of a run still writing
// are held by it and stay.
void removeStaleTemporaries(const std::string& target)
{
    const std::string folder = folderOf(target);
    const std::string prefix = fileNameOf(target) + ".";
    for (const std::string& name : sys::list(folder, prefix, kPartSuffix)) {
        if (isSerial(name.substr(prefix.size(), name.size() - prefix.size() - (sizeof kPartSuffix - 1))))
            sys::removeUnheld(folder + name);
    }
}

std::string randomSerial()
{
    static std::random_device device;
    static std::mt19937_64 generator((uint64_t{device()} << 32) ^ device() ^
                                     uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    static const char kHex[] = "0123456789abcdef";
    uint64_t value = generator();
    std::string serial(kSerialDigits, '0');
    for (size_t i = 0; i < kSerialDigits; ++i, value >>= 4)
        serial[i] = kHex[value & 15];
    return serial;
}

} // namespace

struct OutputFile::State {
    sys::UniqueNativeFile file;
    std::string target;
    std::string temporary;
    Existing existing = Existing::replace;
};

OutputFile::OutputFile() = default;

OutputFile::~OutputFile()
{
    discard();
}

std::string OutputFile::temporaryName(const std::string& target, const std::string& serial)
{
    return target + "." + serial + kPartSuffix;
}

bool OutputFile::check(const std::string& target, Existing existing, std::string& problem)
{
    sys::Entry entry;
    return checkTarget(target, existing, entry, problem);
}

bool OutputFile::open(const std::string& target, Existing existing, std::string& problem)
{
    discard();
    sys::Entry entry;
    if (!checkTarget(target, existing, entry, problem))
        return false;
    removeStaleTemporaries(target);

    auto state = std::make_unique<State>();
    for (int attempt = 0; attempt < 100 && !state->file; ++attempt) {
        state->temporary = temporaryName(target, randomSerial());
        // A replaced file keeps its permissions.
        if (sys::createExclusive(state->temporary, entry.permissions, state->file, problem) ==
            sys::Created::failed)
            return false;
    }
    if (!state->file) {
        problem = "cannot create a file beside it: no free temporary name";
        return false;
    }
    state->target = target;
    state->existing = existing;
    mState = std::move(state);
    return true;
}

bool OutputFile::write(const uint8_t* data, size_t size, std::string& problem)
{
    if (!mState) {
        problem = "not open";
        return false;
    }
    return sys::writeAll(*mState->file, data, size, problem);
}

bool OutputFile::commit(std::string& problem)
{
    if (!mState) {
        problem = "not open";
        return false;
    }
    // Errors of writes the system delayed show here, before the file takes the target's place.
    if (!sys::seal(*mState->file, problem)) {
        discard();
        return false;
    }
    // The file is held until it is in place, so no other run takes it for a stale one.
    sys::Entry entry;
    bool placed = false;
    if (sys::look(mState->target, entry, problem)) {
        problem = kindProblem(entry.kind);
        if (problem.empty())
            placed = sys::place(mState->temporary, mState->target, mState->existing == Existing::replace, problem);
    }
    if (placed)
        mState->temporary.clear();
    const bool finished = sys::finish(mState->file, problem);
    discard();
    return placed && finished;
}

void OutputFile::discard()
{
    if (!mState)
        return;
    mState->file.reset();
    if (!mState->temporary.empty())
        sys::remove(mState->temporary);
    mState.reset();
}

} // namespace platform
