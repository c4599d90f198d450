// A fresh folder of one test's own under the system's temporary folder, removed with everything
// in it; names inside it are UTF-8 on every system.
#pragma once

#include "platform/TextConvert.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace test_support {

using Bytes = std::vector<uint8_t>;

class TempFolder {
public:
    // `suffix` (UTF-8) ends the folder's name, so a test can put other scripts and spaces into
    // every path it makes.
    explicit TempFolder(const std::string& suffix = "")
    {
        static std::atomic<unsigned> serial{0};
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string name = "kv-" + std::string(test ? test->name() : "test") + "-" +
                                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                                 "-" + std::to_string(serial++) + suffix;
        mPath = std::filesystem::temp_directory_path() / std::filesystem::u8path(name);
        std::filesystem::create_directories(mPath);
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(mPath, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return mPath; }
    std::filesystem::path file(const std::string& name) const
    {
        return mPath / std::filesystem::u8path(name);
    }
    std::string utf8(const std::string& name) const { return file(name).u8string(); }
    std::wstring wide(const std::string& name) const { return platform::utf8ToWide(utf8(name)); }

    // Writes the bytes to a file inside; returns its UTF-8 path.
    std::string write(const std::string& name, const Bytes& bytes) const
    {
        std::ofstream(file(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return utf8(name);
    }
    // A sparse file of `size` zero bytes: no disk, no time.
    std::string sparse(const std::string& name, uint64_t size) const
    {
        write(name, {});
        std::filesystem::resize_file(file(name), size);
        return utf8(name);
    }
    Bytes read(const std::string& name) const
    {
        std::ifstream in(file(name), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::filesystem::path mPath;
};

} // namespace test_support
