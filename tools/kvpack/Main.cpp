// kvpack: builds installers (a stub with a package behind it) and inspects, verifies and
// extracts existing ones.
#include "lzari/Codec.h"
#include "platform/Bytes.h"
#include "platform/Host.h"
#include "setup/Crc16.h"
#include "tools/common/Cli.h"
#include "tools/kvpack/Build.h"
#include "tools/kvpack/Installer.h"
#include "tools/kvpack/ItemInfo.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kTool = "kvpack";
// The format's sizes are 32-bit: no installer, item or stream is larger.
constexpr uint64_t kFormatLimit = 0xFFFFFFFF;
// So every size an input may have converts to size_t exactly, in the 32-bit programs too.
static_assert(kFormatLimit <= SIZE_MAX, "a size the format allows must fit size_t");

const char* const kHelp =
    "Usage: kvpack COMMAND [ARGS]\n"
    "Builds self-extracting installers and inspects existing ones.\n"
    "\n"
    "Commands:\n"
    "  build --stub STUB -o OUT [--replace] [--fast] [--test-stub] [--] ITEM...\n"
    "                      pack ITEMs behind the image of STUB into OUT; ITEM is PATH (named after\n"
    "                      the file) or NAME=PATH, and NAME= makes an item without a body. The\n"
    "                      setup program processes items in the order given, so the install\n"
    "                      configuration \"extaction.bin\" belongs first. A PATH that contains\n"
    "                      '=' is given as NAME=PATH or with a folder in front (./a=b.txt).\n"
    "                      --replace  replace a package that STUB already carries\n"
    "                      --fast     greedy matching: quicker, slightly larger\n"
    "                      --test-stub  accept a stub that is not PE32 (a 64-bit build for\n"
    "                                 tests under Wine); the package goes at its end\n"
    "  list FILE           show the package and its items in processing order, with the\n"
    "                      machine and versions of each item that is an executable image\n"
    "  verify FILE         make every check the setup program makes, decode the payload and\n"
    "                      check its directory and items; exit 1 naming the first failed check;\n"
    "                      then name the items that are executable images, with their versions\n"
    "  extract [--force] FILE DIR\n"
    "                      write the items with a body into DIR; an existing file is replaced\n"
    "                      only with --force\n"
    "  lzari encode|decode IN OUT\n"
    "                      compress or expand one LZARI stream\n"
    "  crc FILE            print the package CRC of a file's bytes as 0xXXXX\n"
    "\n"
    "'--' ends the options: what follows is a file even if it starts with '-'. Outputs are\n"
    "written beside their target and put in place whole; an output that exists and is not a\n"
    "regular file (a folder, a device, a link) is refused. Only regular files are read.\n"
    "\n"
    "Exit status: 0 success, 1 failure (one line on stderr names the file and the problem),\n"
    "2 usage error. 'kvpack COMMAND --help' shows this text too.\n";

using cli::Failure;

// A regular file mapped read-only; anything else is refused by name before a byte is read.
std::unique_ptr<platform::MappedFile> mapInput(const std::string& path, uint64_t limit, const char* what)
{
    auto file = std::make_unique<platform::MappedFile>();
    std::string problem;
    if (!file->open(path, problem))
        throw Failure(path, problem);
    if (file->size() > limit)
        throw Failure(path, std::to_string(file->size()) + " bytes, larger than " + what + " can be (4 GiB)");
    return file;
}

std::vector<uint8_t> readWhole(const std::string& path, const char* what)
{
    const auto file = mapInput(path, kFormatLimit, what);
    return std::vector<uint8_t>(file->data(), file->data() + file->size());
}

// Opened before the work starts, so that an output that cannot be written is refused at once.
void openOutput(platform::OutputFile& out, const std::string& path)
{
    std::string problem;
    if (!out.open(path, platform::Existing::replace, problem))
        throw Failure(path, problem);
}

void finishOutput(platform::OutputFile& out, const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::string problem;
    if (!out.write(bytes.data(), bytes.size(), problem) || !out.commit(problem))
        throw Failure(path, problem);
}

bool wantsHelp(const std::vector<std::string>& args)
{
    for (const auto& a : args) {
        if (a == "--")
            return false;
        if (a == "--help" || a == "-h")
            return true;
    }
    return false;
}

// Splits the options (up to "--") from the operands. Unknown options are a usage error.
struct Parsed {
    std::vector<std::string> flags;
    std::vector<std::string> operands;
};
std::optional<Parsed> parse(const std::vector<std::string>& args, const std::vector<std::string>& known,
                            std::string& problem)
{
    Parsed parsed;
    bool options = true;
    for (const auto& a : args) {
        if (options && a == "--") {
            options = false;
        } else if (options && a.size() > 1 && a[0] == '-') {
            if (std::find(known.begin(), known.end(), a) == known.end()) {
                problem = "unknown option: " + a;
                return std::nullopt;
            }
            parsed.flags.push_back(a);
        } else {
            parsed.operands.push_back(a);
        }
    }
    return parsed;
}

bool has(const Parsed& parsed, const char* flag)
{
    return std::find(parsed.flags.begin(), parsed.flags.end(), flag) != parsed.flags.end();
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

void warn(const std::string& warning)
{
    std::fprintf(stderr, "kvpack: warning: %s\n", cli::printable(warning).c_str());
}

int commandBuild(const std::vector<std::string>& args)
{
    std::string stubPath, outPath;
    kvpack::BuildOptions options;
    std::vector<std::string> itemArgs;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-')
            itemArgs.push_back(a);
        else if (a == "--")
            optionsEnded = true;
        else if ((a == "--stub" || a == "-o") && i + 1 < args.size())
            (a == "--stub" ? stubPath : outPath) = args[++i];
        else if (a == "--replace")
            options.replace = true;
        else if (a == "--fast")
            options.fast = true;
        else if (a == "--test-stub")
            options.testStub = true;
        else
            return cli::usageError(kTool, "build: unknown option or missing value: " + a);
    }
    if (stubPath.empty() || outPath.empty())
        return cli::usageError(kTool, "build needs --stub STUB and -o OUT");
    if (itemArgs.empty())
        return cli::usageError(kTool, "build needs at least one ITEM");

    platform::OutputFile out;
    openOutput(out, outPath);
    const auto stub = readWhole(stubPath, "an installer");
    std::vector<setup::PackageItem> items;
    for (const auto& arg : itemArgs) {
        // NAME=PATH only when what stands before the '=' could be a name: with a folder in it,
        // the whole argument is a path.
        const size_t eq = arg.find('=');
        const bool named =
            eq != std::string::npos && platform::fileNameOf(arg.substr(0, eq)) == arg.substr(0, eq);
        setup::PackageItem item;
        item.name = named ? arg.substr(0, eq) : platform::fileNameOf(arg);
        const std::string path = named ? arg.substr(eq + 1) : arg;
        if (!path.empty()) {
            item.body = readWhole(path, "an item");
            if (item.body.empty())
                warn("item \"" + item.name + "\": " + path +
                     " is empty, so the item has no body and the setup program installs no file for it");
        }
        items.push_back(std::move(item));
    }

    uint64_t total = 0;
    for (const auto& item : items)
        total += item.body.size();
    cli::ProgressBar bar("packing", total);
    const kvpack::BuildResult result = kvpack::buildInstaller(stub, items, options, progressTo(bar));
    bar.finish();
    for (const auto& w : result.warnings)
        warn(w);
    if (!result.problem.empty())
        return cli::fail(kTool, result.problem.rfind("stub:", 0) == 0 ? stubPath : outPath, result.problem);
    finishOutput(out, outPath, result.installer);
    std::printf("%s: %zu items, payload %llu bytes, package %llu bytes (%.1f%%), installer %zu bytes\n",
                cli::printable(outPath).c_str(), items.size(),
                static_cast<unsigned long long>(result.payloadSize),
                static_cast<unsigned long long>(result.streamSize),
                result.payloadSize ? 100.0 * double(result.streamSize) / double(result.payloadSize) : 0.0,
                result.installer.size());
    return cli::kExitOk;
}

// The operands of a command that takes exactly `n` of them, after its `known` flags.
std::optional<Parsed> operands(const std::vector<std::string>& args, size_t n, const char* usage,
                               const std::vector<std::string>& known = {})
{
    std::string problem;
    auto parsed = parse(args, known, problem);
    if (!parsed || parsed->operands.size() != n) {
        cli::usageError(kTool, (parsed ? std::string() : problem + "; ") + "usage: kvpack " + usage);
        return std::nullopt;
    }
    return parsed;
}

// An installer mapped and checked; its warnings go to stderr at once. The report's payload is
// its own, so the mapping may go before it is used.
kvpack::InstallerReport inspect(const std::string& path)
{
    const auto file = mapInput(path, kFormatLimit, "an installer");
    cli::ProgressBar bar("decoding", 0);
    auto report =
        kvpack::inspectInstaller(file->data(), static_cast<size_t>(file->size()), true,
                                 [&bar](uint64_t done, uint64_t total) { bar.update(done, total); });
    bar.finish();
    for (const auto& w : report.warnings)
        warn(w);
    return report;
}

int commandList(const std::vector<std::string>& args)
{
    const auto parsed = operands(args, 1, "list FILE");
    if (!parsed)
        return cli::kExitUsage;
    const std::string& path = parsed->operands[0];
    const auto r = inspect(path);
    std::printf("image end   %u (%s)\n", r.imageEnd.offset, hex(r.imageEnd.offset, 1).c_str());
    if (r.package.check != setup::PackageCheck::InvalidPackage)
        std::printf("package     at %llu: %u bytes, crc %s (computed %s)\n",
                    static_cast<unsigned long long>(r.package.magicOffset), r.package.dwLength,
                    hex(r.package.uiCrc, 4).c_str(), hex(r.package.ncrc, 4).c_str());
    if (!r.payload.empty())
        std::printf("payload     %zu bytes, directory %u bytes, %u items\n", r.payload.size(),
                    r.directorySize, r.directory.Count);
    if (!r.ok())
        return cli::fail(kTool, path, r.problem);
    std::printf("\n%5s  %10s  %10s  %s\n", "entry", "offset", "size", "name");
    for (uint32_t i : kvpack::processingOrder(r.directory)) {
        const auto& e = r.directory.pFile[i];
        std::printf("%5u  %10u  %10u  %s%s\n", i, e.Offset, e.Size, cli::printable(e.szFileName).c_str(),
                    kvpack::itemImageNote(r, i).c_str());
    }
    return cli::kExitOk;
}

int commandVerify(const std::vector<std::string>& args)
{
    const auto parsed = operands(args, 1, "verify FILE");
    if (!parsed)
        return cli::kExitUsage;
    const std::string& path = parsed->operands[0];
    const auto r = inspect(path);
    if (!r.ok())
        return cli::fail(kTool, path, r.problem);
    std::printf("%s: ok: package crc %s, %zu-byte payload, %u items\n", cli::printable(path).c_str(),
                hex(r.package.uiCrc, 4).c_str(), r.payload.size(), r.directory.Count);
    for (const auto& line : kvpack::imageLines(r))
        std::printf("%s\n", cli::printable(line).c_str());
    return cli::kExitOk;
}

int commandExtract(const std::vector<std::string>& args)
{
    const auto parsed = operands(args, 2, "extract [--force] FILE DIR", {"--force"});
    if (!parsed)
        return cli::kExitUsage;
    const std::string& path = parsed->operands[0];
    const std::string& folder = parsed->operands[1];
    const auto existing = has(*parsed, "--force") ? platform::Existing::replace : platform::Existing::refuse;
    const auto r = inspect(path);
    if (!r.ok())
        return cli::fail(kTool, path, r.problem);
    std::string problem;
    if (!platform::makeFolders(folder, problem))
        return cli::fail(kTool, folder, problem);
    // Every target is checked before the first is written, so a refusal leaves the folder as it
    // was. The names passed the item-name check: plain printable-ASCII file names.
    const auto order = kvpack::processingOrder(r.directory);
    const auto refuse = [](const std::string& target, const std::string& why) {
        throw Failure(target, why + (why == "already exists" ? " (--force replaces it)" : ""));
    };
    for (uint32_t i : order) {
        const auto& e = r.directory.pFile[i];
        const std::string target = platform::joinPath(folder, e.szFileName);
        if (e.Size != 0 && !platform::OutputFile::check(target, existing, problem))
            refuse(target, problem);
    }
    for (uint32_t i : order) {
        const auto& e = r.directory.pFile[i];
        if (e.Size == 0) {
            std::printf("skipped  %s (no body)\n", e.szFileName.c_str());
            continue;
        }
        const std::string target = platform::joinPath(folder, e.szFileName);
        platform::OutputFile out;
        if (!out.open(target, existing, problem) ||
            !out.write(r.payload.data() + e.Offset, e.Size, problem) || !out.commit(problem))
            refuse(target, problem);
        std::printf("extracted %s (%u bytes)\n", e.szFileName.c_str(), e.Size);
    }
    return cli::kExitOk;
}

int commandLzari(const std::vector<std::string>& args)
{
    std::string problem;
    const auto parsed = parse(args, {}, problem);
    if (!parsed || parsed->operands.size() != 3 ||
        (parsed->operands[0] != "encode" && parsed->operands[0] != "decode"))
        return cli::usageError(kTool, "usage: kvpack lzari encode|decode IN OUT");
    const std::string& mode = parsed->operands[0];
    const std::string& in = parsed->operands[1];
    const std::string& out = parsed->operands[2];
    platform::OutputFile file;
    openOutput(file, out);
    std::vector<uint8_t> output;
    if (mode == "encode") {
        // The length field is 32-bit: a larger input is refused before it is read.
        const auto input = mapInput(in, kFormatLimit, "an LZARI stream's content");
        cli::ProgressBar bar("encoding", input->size());
        output = lzari::encode(input->data(), static_cast<size_t>(input->size()), lzari::EncodeLevel::best,
                               progressTo(bar));
    } else {
        const auto input = mapInput(in, kFormatLimit, "an LZARI stream");
        if (input->size() < 4)
            return cli::fail(kTool, in, "stream shorter than its 4-byte length head");
        const uint32_t textSize = platform::load32(input->data());
        const uint64_t plausible = lzari::plausibleTextSize(input->size());
        if (textSize > plausible)
            return cli::fail(kTool, in,
                             "stream announces " + std::to_string(textSize) + " bytes, implausible for its " +
                                 std::to_string(input->size()) + " bytes (at most " +
                                 std::to_string(plausible) + ")");
        cli::ProgressBar bar("decoding", textSize);
        output = lzari::decode(input->data(), static_cast<size_t>(input->size()), plausible, progressTo(bar));
    }
    finishOutput(file, out, output);
    return cli::kExitOk;
}

int commandCrc(const std::vector<std::string>& args)
{
    const auto parsed = operands(args, 1, "crc FILE");
    if (!parsed)
        return cli::kExitUsage;
    const auto file = mapInput(parsed->operands[0], UINT64_MAX, "a file");
    std::printf("%s\n", hex(setup::Crc16(file->data(), static_cast<size_t>(file->size())), 4).c_str());
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
    return cli::guarded(kTool, [&]() -> int {
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
        return cli::usageError(kTool, "unknown command: " + command);
    });
}

} // namespace

int main(int argc, char** argv)
{
    return run(platform::commandLineArguments(argc, argv));
}
