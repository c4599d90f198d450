// Fuzz target: any payload, directory and bodies alike, runs through the whole install without
// reading outside it; every installed file lands in its folder under a plain name, and no file
// gets more bytes than the payload holds.
#include "setup/Install.h"
#include "setup/InstallConfig.h"

#include <cstdlib>

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
    std::wstring tempFolder() override { return L"T:\\"; }
    // Every other installed file exists, so both branches of the version rule are taken.
    bool pathExists(const std::wstring& path) override { return (++mCalls & 1) != 0 && !path.empty(); }
    std::wstring makeTempFile(const std::wstring& folder, const std::wstring& prefix) override
    {
        return folder + prefix + L"1.tmp";
    }
    std::unique_ptr<setup::ItemWriter> create(const std::wstring&) override
    {
        return std::make_unique<Writer>(mPayloadSize);
    }
    std::unique_ptr<setup::ItemWriter> createReplacement(const std::wstring& target) override
    {
        if (target.size() < 11 || target.compare(target.size() - 11, 11, L"npkvdpx.dll") != 0)
            std::abort();
        return std::make_unique<Writer>(mPayloadSize);
    }
    uint32_t lastError() override { return 0; }
    std::wstring fileVersion(const std::wstring& path) override
    {
        return path.size() % 3 == 0 ? L"" : (path.size() % 3 == 1 ? L"7.0.1.9" : L"7.0.2.1");
    }
    void replaceFile(const std::wstring&, const std::wstring& to) override
    {
        const std::wstring& path = g_ExtensionPath;
        const size_t folder = path.size() + (path.empty() || path.back() == L'\\' ? 0 : 1);
        if (to.compare(0, path.size(), path) != 0 || to.find_first_of(L"\\/:", folder) != std::wstring::npos)
            std::abort();
    }
    void deleteFile(const std::wstring&) override {}
    void removeFile(const std::wstring&) override {}
    std::array<std::wstring, 4> pluginFolders() override
    {
        return {L"C:\\Chrome", L"", L"P:\\Profile", L"S:\\Shared"};
    }
    bool launch(const std::wstring&, const std::wstring&) override { return true; }

private:
    class Writer final : public setup::ItemWriter {
    public:
        explicit Writer(size_t limit) : mLimit(limit) {}
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
