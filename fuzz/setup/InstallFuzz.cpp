// Fuzz target: any payload, directory and bodies alike, runs through the whole install without
// reading outside it; every installed file lands in its folder under a plain name, and no file
// gets more bytes than the payload holds.
#include "setup/Install.h"
#include "setup/InstallConfig.h"

#include <cstdlib>
#include <utility>

namespace {

class FuzzHost final : public setup::InstallHost {
public:
    explicit FuzzHost(size_t payloadSize) : mPayloadSize(payloadSize) {}

    std::wstring fromAnsi(std::string_view bytes) const override { return setup::latin1ToWide(bytes); }
    std::wstring localAppDataFolder() const override { return L"L:\\Local"; }
    void createFolder(const std::wstring&) const override {}
    void toLower(std::wstring& text) override
    {
        for (wchar_t& c : text)
            c = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    }
    // Every other installed file exists, so both branches of the version rule are taken.
    bool pathExists(const std::wstring& path) override { return (++mCalls & 1) != 0 && !path.empty(); }
    // A plug-in module goes to its folders, any other item into the install folder under a plain
    // name.
    std::unique_ptr<setup::ItemWriter> createReplacement(const std::wstring& target,
                                                         setup::ReplaceLines lines) override
    {
        if (lines == setup::ReplaceLines::quiet) {
            if (target.size() < 11 || target.compare(target.size() - 11, 11, L"npkvdpx.dll") != 0)
                std::abort();
        } else {
            const std::wstring& path = g_ExtensionPath;
            const size_t folder = path.size() + (path.empty() || path.back() == L'\\' ? 0 : 1);
            if (target.compare(0, path.size(), path) != 0 ||
                target.find_first_of(L"\\/:", folder) != std::wstring::npos)
                std::abort();
        }
        return std::make_unique<Writer>(target + L".new", mPayloadSize);
    }
    uint32_t lastError() override { return 0; }
    std::wstring fileVersion(const std::wstring& path) override
    {
        return path.size() % 3 == 0 ? L"" : (path.size() % 3 == 1 ? L"7.0.1.9" : L"7.0.2.1");
    }
    std::array<std::wstring, 4> pluginFolders() override
    {
        return {L"C:\\Chrome", L"", L"P:\\Profile", L"S:\\Shared"};
    }
    bool launch(const std::wstring&, const std::wstring&) override { return true; }

private:
    class Writer final : public setup::ItemWriter {
    public:
        Writer(std::wstring path, size_t limit) : mPath(std::move(path)), mLimit(limit) {}
        const std::wstring& path() const override { return mPath; }
        bool write(const uint8_t*, size_t size) override
        {
            mWritten += size;
            if (mWritten > mLimit)
                std::abort();
            return true;
        }
        bool close() override { return true; }
        void abandon() override {}
        uint32_t error() const override { return 0; }

    private:
        std::wstring mPath;
        size_t mLimit;
        size_t mWritten = 0;
    };

    size_t mPayloadSize;
    unsigned mCalls = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzHost host(size);
    setup::resetInstallState();
    setup::MemoryReader payload(data, size);
    setup::installPayload(payload, L"L:\\Local\\Kavari", host);
    setup::resetInstallState();
    return 0;
}
