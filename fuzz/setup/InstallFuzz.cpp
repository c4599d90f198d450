// Fuzz target: any payload, directory and bodies alike, runs through the whole install without
// reading outside it; every temporary copy lands in the temporary folder under a plain name, and
// no file gets more bytes than the payload holds.
#include "setup/Install.h"

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
    std::unique_ptr<setup::ItemWriter> create(const std::wstring& path) override
    {
        if (path.rfind(L"T:\\", 0) == 0 && path.find_first_of(L"\\/:", 3) != std::wstring::npos)
            std::abort();
        return std::make_unique<Writer>(mPayloadSize);
    }
    uint32_t lastError() override { return 0; }
    std::wstring fileVersion(const std::wstring& path) override
    {
        return path.size() % 3 == 0 ? L"" : (path.size() % 3 == 1 ? L"7.0.1.9" : L"7.0.2.1");
    }
    void replaceFile(const std::wstring&, const std::wstring&) override {}
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
