// kvpack: builds installers (a stub with a package behind it) and inspects, verifies and
// extracts existing ones.
#include "lzari/Codec.h"
#include "platform/Bytes.h"
#include "platform/Host.h"
#include "platform/TextConvert.h"
#include "setup/Crc16.h"
#include "tools/common/Cli.h"
#include "tools/kvpack/Build.h"
#include "tools/kvpack/Installer.h"
#include "tools/kvpack/ItemInfo.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr const char* kTool = "kvpack";

const char* const kHelp =
    "Usage: kvpack COMMAND [ARGS]\n"
    "Builds self-extracting installers and inspects existing ones.\n"
    "\n"
    "Commands:\n"
    "  build --stub STUB -o OUT [--replace] [--fast] [--test-stub] ITEM...\n"
    "                      pack ITEMs behind the image of STUB into OUT; ITEM is PATH (named after\n"
    "                      the file) or NAME=PATH, and NAME= makes an item without a body. The\n"
    "                      setup program processes items in the order given, so the install\n"
    "                      configuration \"extaction.bin\" belongs first.\n"
    "                      --replace  replace a package that STUB already carries\n"
    "                      --fast     greedy matching: quicker, slightly larger\n"
    "                      --test-stub  accept a stub that is not PE32 (a 64-bit build for\n"
    "                                 tests under Wine); the package goes at its end\n"
    "  list FILE           show the package and its items in processing order, with the\n"
    "                      machine and versions of each item that is an executable image\n"
    "  verify FILE         make every check the setup program makes, decode the payload and\n"
    "                      check its directory and items; exit 1 naming the first failed check;\n"
    "                      then name the items that are executable images, with their versions\n"
    "  extract FILE DIR    write the items with a body into DIR\n"
    "  lzari encode|decode IN OUT\n"
    "                      compress or expand one LZARI stream\n"
    "  crc FILE            print the package CRC of a file's bytes as 0xXXXX\n"
    "\n"
    "Exit status: 0 success, 1 failure (one line on stderr names the file and the problem),\n"
    "2 usage error. 'kvpack COMMAND --help' shows this text too.\n";

struct Failure {
    std::string file;
    std::string problem;
};

std::vector<uint8_t> readFile(const std::string& path)
{
    const platform::UniqueFile file(platform::openFileUtf8(path, "rb"));
    if (!file)
        throw Failure{path, "cannot open for reading"};
    std::vector<uint8_t> bytes;
    uint8_t buffer[1 << 16];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + got);
    if (std::ferror(file.get()))
        throw Failure{path, "read error"};
    return bytes;
}

// Writes through a temporary file beside the target, so that a failed write never leaves a
// half-written installer where a good one was.
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    const fs::path target(platform::utf8ToWide(path));
    fs::path temporary = target;
    temporary += L".kvpack-part";
    std::FILE* out = platform::openFile(temporary.wstring(), "wb");
    if (!out)
        throw Failure{path, "cannot open for writing"};
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw Failure{path, "write error (disk full?)"};
    }
    std::error_code ec;
    fs::rename(temporary, target, ec);
    if (ec) {
        fs::remove(target, ec);
        fs::rename(temporary, target, ec);
    }
    if (ec) {
        fs::remove(temporary, ec);
        throw Failure{path, "cannot replace the file"};
    }
}

bool wantsHelp(const std::vector<std::string>& args)
{
    for (const auto& a : args)
        if (a == "--help" || a == "-h")
            return true;
    return false;
}

kvpack::Progress progressTo(cli::ProgressBar& bar)
{
    return [&bar](uint64_t done, uint64_t) { bar.update(done); };
}

std::string hex(uint32_t v, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, v);
    return text;
}

int commandBuild(const std::vector<std::string>& args)
{
    std::string stubPath, outPath;
    kvpack::BuildOptions options;
    std::vector<std::string> itemArgs;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "--stub" || a == "-o") && i + 1 < args.size())
            (a == "--stub" ? stubPath : outPath) = args[++i];
        else if (a == "--replace")
            options.replace = true;
        else if (a == "--fast")
            options.fast = true;
        else if (a == "--test-stub")
            options.testStub = true;
        else if (a.size() > 1 && a[0] == '-' && a != "--")
            return cli::usageError(kTool, "build: unknown option or missing value: " + a);
        else
            itemArgs.push_back(a);
    }
    if (stubPath.empty() || outPath.empty())
        return cli::usageError(kTool, "build needs --stub STUB and -o OUT");
    if (itemArgs.empty())
        return cli::usageError(kTool, "build needs at least one ITEM");

    std::vector<setup::PackageItem> items;
    for (const auto& arg : itemArgs) {
        const size_t eq = arg.find('=');
        setup::PackageItem item;
        std::string path = arg;
        if (eq != std::string::npos) {
            item.name = arg.substr(0, eq);
            path = arg.substr(eq + 1);
        } else {
            item.name = fs::path(platform::utf8ToWide(arg)).filename().u8string();
        }
        if (!path.empty())
            item.body = readFile(path);
        items.push_back(std::move(item));
    }
    const auto stub = readFile(stubPath);

    uint64_t total = 0;
    for (const auto& item : items)
        total += item.body.size();
    cli::ProgressBar bar("packing", total);
    const kvpack::BuildResult result = kvpack::buildInstaller(stub, items, options, progressTo(bar));
    bar.finish();
    for (const auto& w : result.warnings)
        std::fprintf(stderr, "kvpack: warning: %s\n", w.c_str());
    if (!result.problem.empty())
        return cli::fail(kTool, result.problem.rfind("stub:", 0) == 0 ? stubPath : outPath, result.problem);
    writeFile(outPath, result.installer);
    std::printf("%s: %zu items, payload %llu bytes, package %llu bytes (%.1f%%), installer %zu bytes\n",
                outPath.c_str(), items.size(), static_cast<unsigned long long>(result.payloadSize),
                static_cast<unsigned long long>(result.streamSize),
                result.payloadSize ? 100.0 * double(result.streamSize) / double(result.payloadSize) : 0.0,
                result.installer.size());
    return cli::kExitOk;
}

std::optional<int> needArgs(const std::vector<std::string>& args, size_t n, const char* usage)
{
    if (args.size() != n)
        return cli::usageError(kTool, std::string("usage: kvpack ") + usage);
    return std::nullopt;
}

// Reads, decodes and checks an installer; its warnings go to stderr at once.
kvpack::InstallerReport inspect(const std::string& path)
{
    const auto file = readFile(path);
    cli::ProgressBar bar("decoding", 0);
    auto report = kvpack::inspectInstaller(
        file, true, [&bar](uint64_t done, uint64_t total) { bar.update(done, total); });
    bar.finish();
    for (const auto& w : report.warnings)
        std::fprintf(stderr, "kvpack: warning: %s\n", w.c_str());
    return report;
}

int commandList(const std::vector<std::string>& args)
{
    if (auto usage = needArgs(args, 1, "list FILE"))
        return *usage;
    const auto r = inspect(args[0]);
    std::printf("image end   %u (%s)\n", r.imageEnd.offset, hex(r.imageEnd.offset, 1).c_str());
    if (r.package.check != setup::PackageCheck::InvalidPackage)
        std::printf("package     at %llu: %u bytes, crc %s (computed %s)\n",
                    static_cast<unsigned long long>(r.package.magicOffset), r.package.dwLength,
                    hex(r.package.uiCrc, 4).c_str(), hex(r.package.ncrc, 4).c_str());
    if (!r.payload.empty())
        std::printf("payload     %zu bytes, directory %u bytes, %u items\n", r.payload.size(),
                    r.directorySize, r.directory.Count);
    if (!r.ok())
        return cli::fail(kTool, args[0], r.problem);
    std::printf("\n%5s  %10s  %10s  %s\n", "entry", "offset", "size", "name");
    for (uint32_t i : kvpack::processingOrder(r.directory)) {
        const auto& e = r.directory.pFile[i];
        std::printf("%5u  %10u  %10u  %s%s\n", i, e.Offset, e.Size, e.szFileName.c_str(),
                    kvpack::itemImageNote(r, i).c_str());
    }
    return cli::kExitOk;
}

int commandVerify(const std::vector<std::string>& args)
{
    if (auto usage = needArgs(args, 1, "verify FILE"))
        return *usage;
    const auto r = inspect(args[0]);
    if (!r.ok())
        return cli::fail(kTool, args[0], r.problem);
    std::printf("%s: ok: package crc %s, %zu-byte payload, %u items\n", args[0].c_str(),
                hex(r.package.uiCrc, 4).c_str(), r.payload.size(), r.directory.Count);
    for (const auto& line : kvpack::imageLines(r))
        std::printf("%s\n", line.c_str());
    return cli::kExitOk;
}

int commandExtract(const std::vector<std::string>& args)
{
    if (auto usage = needArgs(args, 2, "extract FILE DIR"))
        return *usage;
    const auto r = inspect(args[0]);
    if (!r.ok())
        return cli::fail(kTool, args[0], r.problem);
    const fs::path dir(platform::utf8ToWide(args[1]));
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec)
        return cli::fail(kTool, args[1], "cannot create the folder: " + ec.message());
    for (uint32_t i : kvpack::processingOrder(r.directory)) {
        const auto& e = r.directory.pFile[i];
        if (e.Size == 0) {
            std::printf("skipped  %s (no body)\n", e.szFileName.c_str());
            continue;
        }
        // The names passed the item-name check: plain printable-ASCII file names.
        const fs::path target = dir / fs::path(e.szFileName);
        writeFile(platform::wideToUtf8(target.wstring()),
                  std::vector<uint8_t>(r.payload.begin() + e.Offset, r.payload.begin() + e.Offset + e.Size));
        std::printf("extracted %s (%u bytes)\n", e.szFileName.c_str(), e.Size);
    }
    return cli::kExitOk;
}

int commandLzari(const std::vector<std::string>& args)
{
    if (args.size() != 3 || (args[0] != "encode" && args[0] != "decode"))
        return cli::usageError(kTool, "usage: kvpack lzari encode|decode IN OUT");
    const auto input = readFile(args[1]);
    std::vector<uint8_t> output;
    if (args[0] == "encode") {
        cli::ProgressBar bar("encoding", input.size());
        output = lzari::encode(input.data(), input.size(), lzari::EncodeLevel::best, progressTo(bar));
    } else {
        if (input.size() < 4)
            return cli::fail(kTool, args[1], "stream shorter than its 4-byte length head");
        const uint32_t textSize = platform::load32(input.data());
        if (textSize > kvpack::payloadLimit(input.size()))
            return cli::fail(kTool, args[1],
                             "stream announces " + std::to_string(textSize) +
                                 " bytes, implausible for its size");
        cli::ProgressBar bar("decoding", textSize);
        output = lzari::decode(input.data(), input.size(), textSize, progressTo(bar));
    }
    writeFile(args[2], output);
    return cli::kExitOk;
}

int commandCrc(const std::vector<std::string>& args)
{
    if (auto usage = needArgs(args, 1, "crc FILE"))
        return *usage;
    const auto bytes = readFile(args[0]);
    std::printf("%s\n", hex(setup::Crc16(bytes.data(), bytes.size()), 4).c_str());
    return cli::kExitOk;
}

int run(std::vector<std::string> args)
{
    if (args.empty())
        return cli::usageError(kTool, "missing command");
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help" || wantsHelp(args)) {
        std::fputs(kHelp, stdout);
        return cli::kExitOk;
    }
    try {
        if (command == "build")
            return commandBuild(args);
        if (command == "list")
            return commandList(args);
        if (command == "verify")
            return commandVerify(args);
        if (command == "extract")
            return commandExtract(args);
        if (command == "lzari")
            return commandLzari(args);
        if (command == "crc")
            return commandCrc(args);
    } catch (const Failure& f) {
        return cli::fail(kTool, f.file, f.problem);
    } catch (const std::bad_alloc&) {
        return cli::fail(kTool, "", "out of memory");
    }
    return cli::usageError(kTool, "unknown command: " + command);
}

} // namespace

int main(int argc, char** argv)
{
    return run(platform::commandLineArguments(argc, argv));
}
