// Prints what the image reader finds in executable files, one line per file, for the comparison
// with an independent reader (compare_pefile.py):
//   peimage_dump KEY,KEY,... FILE...
//   FILE <tab> machine <tab> file version <tab> product version <tab> value of each KEY
// A file that does not open prints "-" as its machine. Tabs, line breaks and backslashes in
// values are escaped as \t, \n, \r and \\.
#include "peimage/Win6432PE.h"
#include "platform/Host.h"
#include "platform/TextConvert.h"

#include <cstdio>
#include <string>
#include <vector>

// The mapping of this build's system: the host's natively, the setup program's on Windows.
peimage::MappingMaker dumpMapping();

namespace {

std::string escaped(const std::wstring& text)
{
    std::string out;
    for (char c : platform::wideToUtf8(text)) {
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::vector<std::wstring> splitKeys(const std::string& list)
{
    std::vector<std::wstring> keys;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(',', start);
        const std::string key =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!key.empty())
            keys.push_back(platform::utf8ToWide(key));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return keys;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = platform::commandLineArguments(argc, argv);
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: peimage_dump KEY,KEY,... FILE...\n");
        return 2;
    }
    const std::vector<std::wstring> keys = splitKeys(args[0]);
    for (size_t i = 1; i < args.size(); ++i) {
        peimage::CWin6432PE reader(dumpMapping());
        std::string line = args[i];
        if (!reader.open(platform::utf8ToWide(args[i]))) {
            std::printf("%s\t-\n", line.c_str());
            continue;
        }
        char machine[8];
        std::snprintf(machine, sizeof machine, "%04x", reader.getMachineType());
        line += std::string("\t") + machine + "\t" + escaped(reader.getFileVersion()) + "\t" +
                escaped(reader.getProductVersion());
        for (const auto& key : keys)
            line += "\t" + escaped(reader.getVersionString(key));
        std::printf("%s\n", line.c_str());
    }
    return 0;
}
