// The install configuration: its line parsing with the exact lines it logs, and the path macros.
#include "setup/InstallConfig.h"

#include "tests/support/CaptureSink.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

class FakeEnvironment : public setup::InstallEnvironment {
public:
    explicit FakeEnvironment(std::wstring localAppData = L"D:\\Local")
        : mLocalAppData(std::move(localAppData))
    {
    }
    std::wstring fromAnsi(std::string_view bytes) const override { return setup::latin1ToWide(bytes); }
    std::wstring localAppDataFolder() const override { return mLocalAppData; }
    void createFolder(const std::wstring& folder) const override { created.push_back(folder); }

    mutable std::vector<std::wstring> created;

private:
    std::wstring mLocalAppData;
};

// Path, Excute, Argument, KavariExcute, KavariArgument.
using State = std::array<std::wstring, 5>;

State current()
{
    return {g_ExtensionPath, g_strExcute, g_strArgument, g_strKavariExcute, g_strKavariArgument};
}

std::wstring repeat(const std::wstring& text, size_t count)
{
    std::wstring all;
    for (size_t i = 0; i < count; ++i)
        all += text;
    return all;
}

std::vector<std::string> valueLines(std::initializer_list<const char*> values)
{
    std::vector<std::string> lines;
    for (const char* value : values)
        lines.push_back(std::string("InitExtensionAction, strValue=") + value);
    return lines;
}

} // namespace

TEST(InstallConfig, ParsesLinesAndLogsEveryValue)
{
    struct Case {
        const char* what;
        std::string text;
        State state;
        std::vector<std::string> logged;
    };
    // clang-format off
    const Case cases[] = {
        {"a line without = costs a pass and loses nothing", "A\nPath=x\n", {L"x"}, valueLines({"x", "x"})},
        {"a lone line feed joins the next line, whose entry is lost", "Excute=a\n\nArgument=b\n", {L"", L"a"},
         valueLines({"a", "b"})},
        {"a blank line in CR LF is harmless", "Path=1\r\n\r\nExcute=2\r\n", {L"1", L"2"},
         valueLines({"1", "2", "2"})},
        {"CR LF lines keep no carriage return", "Path=p\r\nArgument=/r\r\n", {L"p", L"", L"/r"},
         valueLines({"p", "/r"})},
        {"a key given twice takes the later value; the last line needs no line feed", "Argument=1\nArgument=2",
         {L"", L"", L"2"}, valueLines({"1", "2"})},
        {"unknown keys and other letter cases set nothing",
         "path=x\nOther=y\nKavariExcute=k\nKavariArgument=ka\nrunasadmin=1\nKavariRunasadmin=true\n",
         {L"", L"", L"", L"k", L"ka"}, valueLines({"x", "y", "k", "ka", "1", "true"})},
        {"values stand as written, blanks, quotes and further = included", "Argument= /r \"a=b\" \n",
         {L"", L"", L" /r \"a=b\" "}, valueLines({" /r \"a=b\" "})},
        {"a line without = borrows the next line's value, line breaks and all", "junk\r\nB=2\r\nExcute=e\r\n",
         {L"", L"e"}, valueLines({"2\r", "2", "e"})},
        {"ANSI bytes above 127", "Path=C:\\caf\xe9\n", {L"C:\\caf\u00e9"}, valueLines({"C:\\caf\xc3\xa9"})},
        {"a value past the longest path is refused; the key keeps its value",
         "Path=x\nPath=" + std::string(32768, 'y') + "\r\nExcute=e",
         {L"x", L"e"},
         {valueLines({"x"})[0], "InitExtensionAction>>value too long, ignored, length=32768",
          valueLines({"e"})[0]}},
        {"no = at all stops at once", "no keys here\n", {}, {}},
        {"empty", "", {}, {}},
    };
    // clang-format on
    const FakeEnvironment environment;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setup::resetInstallState();
        rlxutil::ScopedCaptureSink log;
        InitExtensionAction(c.text.data(), static_cast<uint32_t>(c.text.size()), environment);
        EXPECT_EQ(current(), c.state);
        EXPECT_EQ(log.texts(), c.logged);
        // Only "1" asks for elevation.
        EXPECT_EQ(g_bRunAsAdmin, c.text.find("runasadmin=1") != std::string::npos);
        EXPECT_FALSE(g_bKavariRunAsAdmin);
    }
    setup::resetInstallState();
    InitExtensionAction(nullptr, 10, environment);
    EXPECT_EQ(current(), State{});
}

TEST(InstallConfig, ShippedConfigurationInstallsIntoLocalAppData)
{
    std::ifstream file(KV_SOURCE_DIR "/demo/extaction.bin", std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find('\r'), std::string::npos);
    setup::resetInstallState();
    const FakeEnvironment environment(L"C:\\users\\Some One\\AppData\\Local");
    rlxutil::ScopedCaptureSink log;
    InitExtensionAction(text.data(), static_cast<uint32_t>(text.size()), environment);
    InitGeneralInstallPath(L"ignored", environment);
    EXPECT_EQ(current(),
              (State{L"C:\\users\\Some One\\AppData\\Local\\Kavari",
                     L"C:\\users\\Some One\\AppData\\Local\\Kavari\\OrvaneKavariStart.exe", L"/r"}));
    EXPECT_EQ(environment.created, std::vector<std::wstring>{L"C:\\users\\Some One\\AppData\\Local\\Kavari"});
    EXPECT_EQ(
        log.texts(),
        (std::vector<std::string>{
            "InitExtensionAction, strValue=#currentappdata#\\Kavari",
            "InitExtensionAction, strValue=#Path#\\OrvaneKavariStart.exe",
            "InitExtensionAction, strValue=/r",
            "InitExtensionAction, strValue=0",
            "InstallAddOn>>InitGeneralInstallPath",
            "InstallAddOn>>install-path, g_ExtensionPath=#currentappdata#\\Kavari",
            "InstallAddOn>>Excute, g_strExcute=#Path#\\OrvaneKavariStart.exe",
            "InstallAddOn>>KavariExcute, g_strKavariExcute=",
            "InstallAddOn>>Install path new, g_ExtensionPath=C:\\users\\********\\AppData\\Local\\Kavari",
            "InstallAddOn>>Excute new, g_strExcute=C:\\users\\********\\AppData\\Local\\Kavari\\"
            "OrvaneKavariStart.exe",
            "InstallAddOn>>KavariExcute new, g_strKavariExcute=",
        }));
}

TEST(InstallConfig, ExpandsPathMacros)
{
    struct Case {
        const char* what;
        std::wstring localAppData, path, excute, kavariExcute;
        std::wstring newPath, newExcute, newKavariExcute;
        std::vector<std::wstring> created;
    };
    // clang-format off
    const Case cases[] = {
        {"every occurrence", L"L:", L"#currentappdata#\\a;#currentappdata#\\b", L"#Path#\\s.exe", L"#Path#\\k.exe",
         L"L:\\a;L:\\b", L"L:\\a;L:\\b\\s.exe", L"L:\\a;L:\\b\\k.exe", {L"L:\\a;L:\\b"}},
        {"an expansion holding the macro is not expanded again", L"#currentappdata#", L"#currentappdata#\\x",
         L"#Path##Path#", L"", L"#currentappdata#\\x", L"#currentappdata#\\x#currentappdata#\\x", L"",
         {L"#currentappdata#\\x"}},
        {"no local app data folder expands to nothing", L"", L"#currentappdata#\\Kavari", L"", L"",
         L"\\Kavari", L"", L"", {L"\\Kavari"}},
        {"program data is kept, and stops the later macros", L"L:", L"#programdata#\\K#FireFoxUserLevelPlugin#",
         L"#Path#\\s.exe", L"", L"#programdata#\\K#FireFoxUserLevelPlugin#",
         L"#programdata#\\K#FireFoxUserLevelPlugin#\\s.exe", L"", {}},
        {"the Firefox macro is removed", L"L:", L"P#FireFoxUserLevelPlugin#\\x#FireFoxUserLevelPlugin#", L"", L"",
         L"P\\x", L"", L"", {}},
        {"an empty install folder leaves the separator", L"L:", L"", L"#Path#\\start.exe", L"#path#", L"",
         L"\\start.exe", L"#path#", {}},
        // Refused before anything is built: 5,000 macros over a 10,000-character folder would be
        // 50 million characters.
        {"a program path past the longest path is refused and left empty, one at the bound is made",
         L"L:", std::wstring(10000, L'p'), repeat(L"#Path#", 5000), std::wstring(10000, L'p').insert(0, L"#Path#"), 
         std::wstring(10000, L'p'), L"", std::wstring(20000, L'p'), {}},
        {"an install folder past the longest path is refused and left empty; nothing is created",
         std::wstring(100, L'L'), repeat(L"#currentappdata#", 400), L"#Path#\\s.exe", L"", L"", L"\\s.exe", L"", {}},
        {"exactly the longest path is made", L"L:", std::wstring(32760, L'p'), L"#Path#\\ab.exe",
         L"#Path#\\abc.exe", std::wstring(32760, L'p'), std::wstring(32760, L'p') + L"\\ab.exe", L"", {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setup::resetInstallState();
        g_ExtensionPath = c.path;
        g_strExcute = c.excute;
        g_strKavariExcute = c.kavariExcute;
        g_strArgument = g_strKavariArgument = L"#Path# #currentappdata#";
        const FakeEnvironment environment(c.localAppData);
        InitGeneralInstallPath(L"", environment);
        const std::wstring commandLine = L"#Path# #currentappdata#"; // never expanded
        EXPECT_EQ(current(), (State{c.newPath, c.newExcute, commandLine, c.newKavariExcute, commandLine}));
        EXPECT_EQ(environment.created, c.created);
    }
    setup::resetInstallState();
}
