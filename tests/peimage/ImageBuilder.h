// Small executable images made to measure for the reader's tests: headers, one resource section
// with a three-level tree of the given leaves, and version blocks with chosen contents.
#pragma once

#include "platform/Bytes.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace peimage_test {

using Bytes = std::vector<uint8_t>;

struct Leaf {
    uint32_t type = 0;
    std::u16string typeName; // a named type when not empty
    uint32_t nameId = 1;
    std::u16string name; // a named resource when not empty
    uint32_t language = 0x409;
    Bytes data;
};

struct ImageSpec {
    uint16_t dosMagic = 0x5A4D;
    uint16_t machine = 0x014C;
    bool resourceDirectory = true; // data directory entry 2 set
    bool section = true;           // one section holding the resources; else none
    std::vector<Leaf> leaves;
};

constexpr uint32_t kLfanew = 64;
constexpr uint32_t kSectionRva = 0x1000;
constexpr uint32_t kSectionAt = 0x200; // file offset of the resource section
constexpr uint32_t kResourceVa = kSectionRva;

inline void put16(Bytes& b, size_t at, uint16_t v)
{
    if (b.size() < at + 2)
        b.resize(at + 2);
    platform::store16(b.data() + at, v);
}

inline void put32(Bytes& b, size_t at, uint32_t v)
{
    if (b.size() < at + 4)
        b.resize(at + 4);
    platform::store32(b.data() + at, v);
}

// The resource section: directories first (root, types, names), then data entries, names, data.
inline Bytes resourceSection(const std::vector<Leaf>& leaves)
{
    // Types in order of first appearance; within a type, names; within a name, languages.
    std::vector<std::vector<std::vector<size_t>>> tree;
    std::vector<size_t> typeOf, nameOf;
    std::vector<std::pair<uint32_t, std::u16string>> typeKeys;
    std::vector<std::vector<std::pair<uint32_t, std::u16string>>> nameKeys;
    for (size_t i = 0; i < leaves.size(); ++i) {
        const auto typeKey = std::make_pair(leaves[i].type, leaves[i].typeName);
        size_t t = 0;
        while (t < typeKeys.size() && typeKeys[t] != typeKey)
            ++t;
        if (t == typeKeys.size()) {
            typeKeys.push_back(typeKey);
            nameKeys.emplace_back();
            tree.emplace_back();
        }
        const auto nameKey = std::make_pair(leaves[i].nameId, leaves[i].name);
        size_t n = 0;
        while (n < nameKeys[t].size() && nameKeys[t][n] != nameKey)
            ++n;
        if (n == nameKeys[t].size()) {
            nameKeys[t].push_back(nameKey);
            tree[t].emplace_back();
        }
        tree[t][n].push_back(i);
    }
    const auto dirSize = [](size_t entries) { return uint32_t(16 + 8 * entries); };
    uint32_t at = dirSize(tree.size());
    std::vector<uint32_t> typeDirAt, nameDirAt;
    for (size_t t = 0; t < tree.size(); ++t) {
        typeDirAt.push_back(at);
        at += dirSize(tree[t].size());
    }
    for (size_t t = 0; t < tree.size(); ++t)
        for (size_t n = 0; n < tree[t].size(); ++n) {
            nameDirAt.push_back(at);
            at += dirSize(tree[t][n].size());
        }
    const uint32_t dataEntriesAt = at;
    at += uint32_t(16 * leaves.size());
    // Names, then data, each 4-aligned.
    std::map<std::u16string, uint32_t> nameAt;
    const auto placeName = [&](const std::u16string& s) {
        if (!s.empty() && !nameAt.count(s)) {
            nameAt[s] = at;
            at += uint32_t((2 + 2 * s.size() + 3) & ~size_t(3));
        }
    };
    for (const auto& leaf : leaves) {
        placeName(leaf.typeName);
        placeName(leaf.name);
    }
    std::vector<uint32_t> dataAt;
    for (const auto& leaf : leaves) {
        dataAt.push_back(at);
        at += uint32_t((leaf.data.size() + 3) & ~size_t(3));
    }
    Bytes b(at, 0);
    const auto entry = [&](uint32_t dirAt, size_t index, uint32_t id, const std::u16string& name,
                           uint32_t target) {
        const uint32_t e = dirAt + 16 + 8 * uint32_t(index);
        put32(b, e, name.empty() ? id : (0x80000000u | nameAt[name]));
        put32(b, e + 4, target);
    };
    const auto directory = [&](uint32_t dirAt, size_t named, size_t total) {
        put16(b, dirAt + 12, uint16_t(named));
        put16(b, dirAt + 14, uint16_t(total - named));
    };
    const auto countNamed = [](const auto& keys) {
        size_t named = 0;
        for (const auto& k : keys)
            named += !k.second.empty();
        return named;
    };
    directory(0, countNamed(typeKeys), tree.size());
    size_t nameIndex = 0;
    for (size_t t = 0; t < tree.size(); ++t) {
        entry(0, t, typeKeys[t].first, typeKeys[t].second, 0x80000000u | typeDirAt[t]);
        directory(typeDirAt[t], countNamed(nameKeys[t]), tree[t].size());
        for (size_t n = 0; n < tree[t].size(); ++n, ++nameIndex) {
            entry(typeDirAt[t], n, nameKeys[t][n].first, nameKeys[t][n].second,
                  0x80000000u | nameDirAt[nameIndex]);
            directory(nameDirAt[nameIndex], 0, tree[t][n].size());
            for (size_t l = 0; l < tree[t][n].size(); ++l) {
                const size_t leaf = tree[t][n][l];
                entry(nameDirAt[nameIndex], l, leaves[leaf].language, {},
                      dataEntriesAt + 16 * uint32_t(leaf));
            }
        }
    }
    for (const auto& [s, offset] : nameAt) {
        put16(b, offset, uint16_t(s.size()));
        for (size_t i = 0; i < s.size(); ++i)
            put16(b, offset + 2 + 2 * i, s[i]);
    }
    for (size_t i = 0; i < leaves.size(); ++i) {
        put32(b, dataEntriesAt + 16 * uint32_t(i), kResourceVa + dataAt[i]);
        put32(b, dataEntriesAt + 16 * uint32_t(i) + 4, uint32_t(leaves[i].data.size()));
        std::copy(leaves[i].data.begin(), leaves[i].data.end(), b.begin() + dataAt[i]);
    }
    return b;
}

// A PE32 or PE32+ image (by machine; any other machine gets PE32 sizes) around the resources.
inline Bytes makeImage(const ImageSpec& spec)
{
    const bool wide = spec.machine == 0x8664;
    const uint32_t optionalSize = wide ? 240 : 224;
    Bytes b(kSectionAt, 0);
    put16(b, 0, spec.dosMagic);
    put32(b, 60, kLfanew);
    put32(b, kLfanew, 0x4550);
    put16(b, kLfanew + 4, spec.machine);
    put16(b, kLfanew + 6, spec.section ? 1 : 0);
    put16(b, kLfanew + 20, uint16_t(optionalSize));
    const uint32_t optionalAt = kLfanew + 24;
    put16(b, optionalAt, wide ? 0x20B : 0x10B);
    const Bytes resources = resourceSection(spec.leaves);
    if (spec.resourceDirectory) {
        const uint32_t directoryAt = optionalAt + (wide ? 112 : 96) + 8 * 2;
        put32(b, directoryAt, kResourceVa);
        put32(b, directoryAt + 4, uint32_t(resources.size()));
    }
    if (spec.section) {
        const uint32_t sectionAt = optionalAt + optionalSize;
        std::copy_n(".rsrc", 5, b.begin() + sectionAt);
        put32(b, sectionAt + 8, uint32_t(resources.size()));
        put32(b, sectionAt + 12, kSectionRva);
        put32(b, sectionAt + 16, uint32_t(resources.size()));
        put32(b, sectionAt + 20, kSectionAt);
    }
    b.insert(b.end(), resources.begin(), resources.end());
    return b;
}

// A VS_VERSIONINFO block: the fixed part with the two versions (four numbers each, most
// significant first) and one string table of the given pairs.
inline Bytes versionBlock(const uint16_t (&file)[4], const uint16_t (&product)[4],
                          const std::vector<std::pair<std::u16string, std::u16string>>& strings = {})
{
    const auto align = [](Bytes& b) { b.resize((b.size() + 3) & ~size_t(3)); };
    const auto text = [](Bytes& b, const std::u16string& s) {
        for (char16_t c : s)
            b.push_back(uint8_t(c)), b.push_back(uint8_t(c >> 8));
        b.push_back(0), b.push_back(0);
    };
    // Writes a header, its key and padding; the caller fills in the rest, then `finish` sets wLength.
    const auto begin = [&](Bytes& b, uint16_t valueLength, const std::u16string& key) {
        const size_t start = b.size();
        put16(b, start + 2, valueLength);
        put16(b, start + 4, 1);
        b.resize(start + 6);
        text(b, key);
        align(b);
        return start;
    };
    const auto finish = [](Bytes& b, size_t start) { put16(b, start, uint16_t(b.size() - start)); };

    Bytes b;
    const size_t root = begin(b, 52, u"VS_VERSION_INFO");
    const size_t fixed = b.size();
    b.resize(fixed + 52);
    put32(b, fixed, 0xFEEF04BD);
    put32(b, fixed + 4, 0x10000);
    put32(b, fixed + 8, uint32_t(file[0]) << 16 | file[1]);
    put32(b, fixed + 12, uint32_t(file[2]) << 16 | file[3]);
    put32(b, fixed + 16, uint32_t(product[0]) << 16 | product[1]);
    put32(b, fixed + 20, uint32_t(product[2]) << 16 | product[3]);
    const size_t info = begin(b, 0, u"StringFileInfo");
    const size_t table = begin(b, 0, u"040904B0");
    for (const auto& [key, value] : strings) {
        const size_t s = begin(b, uint16_t(value.size() + 1), key);
        text(b, value);
        finish(b, s);
        align(b);
    }
    finish(b, table);
    finish(b, info);
    finish(b, root);
    return b;
}

} // namespace peimage_test
