// Parsing of the install configuration and expansion of its path macros.
#include "setup/InstallConfig.h"

#include "setup/Dpx.h"

#include <utility>

std::wstring g_ExtensionPath;
std::wstring g_strExcute;
std::wstring g_strArgument;
std::wstring g_strKavariExcute;
std::wstring g_strKavariArgument;
bool g_bRunAsAdmin = false;
bool g_bKavariRunAsAdmin = false;

namespace setup {

namespace {

void setFromKey(const std::wstring& key, const std::wstring& value)
{
    // Keys match exactly, letter case included; any other key is ignored.
    if (key == L"Path")
        g_ExtensionPath = value;
    else if (key == L"Excute")
        g_strExcute = value;
    else if (key == L"Argument")
        g_strArgument = value;
    else if (key == L"KavariExcute")
        g_strKavariExcute = value;
    else if (key == L"KavariArgument")
        g_strKavariArgument = value;
    else if (key == L"runasadmin")
        g_bRunAsAdmin = value == L"1";
    else if (key == L"KavariRunasadmin")
        g_bKavariRunAsAdmin = value == L"1";
}

// An expansion past the longest path is not made; the value goes empty rather than stay a path
// with its macro in it.
void refuseExpansion(const char* name, std::wstring& value)
{
    dpx(3, "InstallAddOn>>expanded path too long, ignored", rlxutil::textItem(name));
    value.clear();
}

} // namespace

std::wstring latin1ToWide(std::string_view bytes)
{
    std::wstring text;
    text.reserve(bytes.size());
    for (const char byte : bytes)
        text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    return text;
}

bool replaceAll(std::wstring& text, std::wstring_view macro, std::wstring_view expansion, size_t limit)
{
    if (macro.empty())
        return text.size() <= limit;
    // Measured before it is built: a long expansion repeated many times would otherwise cost
    // memory and time in the product of the two lengths.
    size_t length = text.size();
    for (size_t at = text.find(macro); at != std::wstring::npos; at = text.find(macro, at + macro.size())) {
        length = length - macro.size() + expansion.size();
        if (length > limit)
            return false;
    }
    if (length > limit)
        return false;
    // Built afresh in one pass; the search goes on behind each match in the original text, which
    // is what follows the inserted expansion.
    std::wstring result;
    result.reserve(length);
    size_t from = 0;
    for (size_t at = text.find(macro); at != std::wstring::npos; at = text.find(macro, from)) {
        result.append(text, from, at - from).append(expansion);
        from = at + macro.size();
    }
    if (from == 0)
        return true;
    result.append(text, from, std::wstring::npos);
    text = std::move(result);
    return true;
}

void resetInstallState()
{
    g_ExtensionPath.clear();
    g_strExcute.clear();
    g_strArgument.clear();
    g_strKavariExcute.clear();
    g_strKavariArgument.clear();
    g_bRunAsAdmin = false;
    g_bKavariRunAsAdmin = false;
}

} // namespace setup

void InitExtensionAction(const void* body, uint32_t length, const setup::InstallEnvironment& environment)
{
    if (body == nullptr)
        return;
    const std::wstring text = environment.fromAnsi(std::string_view(static_cast<const char*>(body), length));
    // The rest of the text still to parse starts at `at`; passes move it on instead of cutting the
    // text, so a long configuration costs no more than its length.
    size_t at = 0;
    while (at < text.size()) {
        // The line feed is looked for from the second character on: a line made of a lone line
        // feed joins the next line, whose entry is then lost. Packages in the field were written
        // against exactly this reading, so it stays.
        const size_t equals = text.find(L'=', at);
        const size_t lineFeed = text.find(L'\n', at + 1);
        const size_t lineEnd = lineFeed == std::wstring::npos ? text.size() : lineFeed;
        if (equals == std::wstring::npos)
            break;
        const std::wstring key = text.substr(at, equals - at);
        // A line without "=" borrows the next line's "=": its key spans both lines and matches
        // nothing, and the value runs on to the end of the text.
        std::wstring value =
            lineEnd < equals ? text.substr(equals + 1) : text.substr(equals + 1, lineEnd - equals - 1);
        const size_t carriageReturn = value.rfind(L'\r');
        if (carriageReturn != std::wstring::npos)
            value.resize(carriageReturn);
        const size_t innerLineFeed = value.rfind(L'\n');
        if (innerLineFeed != std::wstring::npos)
            value.resize(innerLineFeed);
        at = lineFeed == std::wstring::npos ? text.size() : lineFeed + 1;
        if (value.size() > setup::kMaxPathLength) {
            // No path or command line the system takes is that long; the key keeps what it had.
            setup::dpx(3, "InitExtensionAction>>value too long, ignored",
                       setup::uintItem("length", static_cast<uint32_t>(value.size())));
            continue;
        }
        setup::setFromKey(key, value);
        setup::dpx(1, "InitExtensionAction", setup::pathItem("strValue", value));
    }
}

void InitGeneralInstallPath(const std::wstring&, const setup::InstallEnvironment& environment)
{
    using setup::dpx;
    using setup::pathItem;
    dpx(1, "InstallAddOn>>InitGeneralInstallPath");
    dpx(1, "InstallAddOn>>install-path", pathItem("g_ExtensionPath", g_ExtensionPath));
    dpx(1, "InstallAddOn>>Excute", pathItem("g_strExcute", g_strExcute));
    dpx(1, "InstallAddOn>>KavariExcute", pathItem("g_strKavariExcute", g_strKavariExcute));

    // The first macro found decides. "#programdata#" has no expansion yet: it is recognised and
    // kept, and the macros after it in this order are then not looked at.
    std::wstring folder = g_ExtensionPath;
    const bool currentAppData = folder.find(L"#currentappdata#") != std::wstring::npos;
    const bool programData = !currentAppData && folder.find(L"#programdata#") != std::wstring::npos;
    if (currentAppData) {
        if (setup::replaceAll(folder, L"#currentappdata#", environment.localAppDataFolder()))
            environment.createFolder(folder);
        else
            setup::refuseExpansion("g_ExtensionPath", folder);
    } else if (!programData) {
        setup::replaceAll(folder, L"#FireFoxUserLevelPlugin#", L"");
    }
    g_ExtensionPath = folder;
    // The command lines are passed on as they stand: "#Path#" is expanded in the program paths only.
    if (!setup::replaceAll(g_strExcute, L"#Path#", g_ExtensionPath))
        setup::refuseExpansion("g_strExcute", g_strExcute);
    if (!setup::replaceAll(g_strKavariExcute, L"#Path#", g_ExtensionPath))
        setup::refuseExpansion("g_strKavariExcute", g_strKavariExcute);

    dpx(1, "InstallAddOn>>Install path new", pathItem("g_ExtensionPath", g_ExtensionPath));
    dpx(1, "InstallAddOn>>Excute new", pathItem("g_strExcute", g_strExcute));
    dpx(1, "InstallAddOn>>KavariExcute new", pathItem("g_strKavariExcute", g_strKavariExcute));
}
