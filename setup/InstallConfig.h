// The install configuration item ("extaction.bin") and the path macros: the process-wide install
// state that says where ordinary items go and which programs start after the install.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The install state, empty at process start and set only by the two calls below. Item
// installation reads the install folder, the follow-up launch the four commands.
extern std::wstring g_ExtensionPath;     // "Path": the install folder of ordinary items
extern std::wstring g_strExcute;         // "Excute": the follow-up program
extern std::wstring g_strArgument;       // "Argument": its whole command line
extern std::wstring g_strKavariExcute;   // "KavariExcute": the second follow-up program
extern std::wstring g_strKavariArgument; // "KavariArgument": its whole command line
// "runasadmin" and "KavariRunasadmin" equal to "1": recorded only; no launch elevates.
extern bool g_bRunAsAdmin;
extern bool g_bKavariRunAsAdmin;

namespace setup {

// What the configuration needs from the system it runs on, so that the parsing and the macros
// are the same code on Windows and in native tests.
class InstallEnvironment {
public:
    virtual ~InstallEnvironment() = default;
    // The configuration is text in the ANSI code page.
    virtual std::wstring fromAnsi(std::string_view bytes) const = 0;
    // The per-user local application-data folder; empty when the system names none.
    virtual std::wstring localAppDataFolder() const = 0;
    // Creates the folder with its missing parents; whether it worked is not asked.
    virtual void createFolder(const std::wstring& folder) const = 0;
};

// The longest path Windows takes, in UTF-16 units: no configuration value and no expanded path is
// longer, and the expansion stops before it would pass it.
inline constexpr size_t kMaxPathLength = 32767;

// Each byte as the code point of the same number: the ANSI conversion of a system whose code page
// is Latin-1, and exact for ASCII everywhere.
std::wstring latin1ToWide(std::string_view bytes);

// Replaces every occurrence of `macro`, searching on just behind each inserted expansion, so an
// expansion that holds the macro itself is not expanded again. When the result would be longer
// than `limit`, nothing is built, `text` stays as it was and the answer is false.
bool replaceAll(std::wstring& text, std::wstring_view macro, std::wstring_view expansion,
                size_t limit = kMaxPathLength);

// Empties the install state, as at process start (for tests and for a second run in one process).
void resetInstallState();

} // namespace setup

// Parses the configuration's key=value lines into the install state and logs every value it
// reads. The bytes come from the package and are trusted for nothing: only body[0, length) is
// read, any bytes give a defined state (each value a piece of the text, or unchanged), and a
// configuration made of ordinary lines costs time in proportion to its length. A null body does
// nothing.
void InitExtensionAction(const void* body, uint32_t length, const setup::InstallEnvironment& environment);

// Expands the path macros of the install state; `folder` (the extraction folder) is not used. An
// expansion that would pass kMaxPathLength is refused before it is made, with a level 3 line, and
// leaves that value empty: no install folder, or no program to start.
void InitGeneralInstallPath(const std::wstring& folder, const setup::InstallEnvironment& environment);
