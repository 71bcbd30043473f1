// Writes what the platform's converter does with the ANSI code pages, as the
// portable converter must do it too. Run under Wine (scripts/gen-bestfit) or
// on Windows:
//
//     gen_bestfit              object/KCcodepage_bestfit.inc (code page 1252)
//     gen_bestfit page N       object/KCcodepage_cpN.cpp (any other page)
//     gen_bestfit reference    tests/data/codepage_dumps.txt: the SHA-256 of
//                              each page's conversion dump
//
// Both directions go through the same calls and flags as the object's text
// conversion on Windows: WideCharToMultiByte with flags 0 and no default
// character of its own (best-fit mappings on), MultiByteToWideChar with
// flags 0. The program stops with an error wherever the platform behaves
// otherwise than the portable converter's model (each UTF-16 code unit on
// its own, one or two bytes; a byte alone or a lead and trail pair), and
// checks the tables it writes against the platform before writing them.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "object/KCcodepage_pages.h"
#include "tools/bestfit/conversion_dump.h"

namespace {

using kestrune::tables::ByteRange;
using kestrune::tables::CodePageData;
using kestrune::tables::Run;
using kestrune::tables::RunKind;
using kestrune::tables::TCodePageConverter;

constexpr unsigned Pages[] = {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "gen_bestfit: %s\n", message.c_str());
    std::exit(1);
}

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string Encode(UINT codePage, const std::u16string& text) {
    if (text.empty()) return {};
    const auto* units = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(codePage, 0, units, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
    if (size <= 0 || WideCharToMultiByte(codePage, 0, units, length, out.data(), size, nullptr, nullptr) != size)
        Fail("WideCharToMultiByte failed in code page " + std::to_string(codePage));
    return out;
}

std::u16string Decode(UINT codePage, const std::string& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(std::max(size, 0)), u'\0');
    if (size <= 0 ||
        MultiByteToWideChar(codePage, 0, text.data(), length, reinterpret_cast<wchar_t*>(out.data()), size) != size)
        Fail("MultiByteToWideChar failed in code page " + std::to_string(codePage));
    return out;
}

std::string PlatformName() {
    using Version = const char*(__cdecl*)();
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto wineVersion = ntdll ? reinterpret_cast<Version>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
                             : nullptr;
    if (wineVersion) return std::string("Wine ") + wineVersion();
    return "Windows";
}

bool DoubleByte(UINT codePage) {
    CPINFO info{};
    if (!GetCPInfo(codePage, &info)) Fail("no code page " + std::to_string(codePage) + " on this platform");
    return info.MaxCharSize == 2;
}

std::string PlatformDump(UINT codePage) {
    return kestrune::tools::ConversionDump(
        DoubleByte(codePage), [&](const std::u16string& text) { return Encode(codePage, text); },
        [&](const std::string& text) { return Decode(codePage, text); });
}

// Surrogates, paired or not, must convert unit by unit.
void CheckSurrogatesUnitByUnit(UINT codePage) {
    const std::u16string pairs[] = {u"\xD83D\xDE00", u"\xD800\xDC00", u"\xDBFF\xDFFF", u"\xDC00\xD800"};
    for (const auto& pair : pairs) {
        if (Encode(codePage, pair) != Encode(codePage, pair.substr(0, 1)) + Encode(codePage, pair.substr(1)))
            Fail("code page " + std::to_string(codePage) + ": a surrogate pair converts as one character");
    }
}

// --- Code page 1252: the table format the object has always used. ---

int Write1252() {
    constexpr UINT CodePage = 1252;
    std::vector<unsigned> decoding(256);
    for (unsigned b = 0; b < 256; ++b) {
        const std::u16string unit = Decode(CodePage, std::string(1, static_cast<char>(b)));
        if (unit.size() != 1) Fail("byte " + Hex(b, 2) + " does not decode to one unit");
        decoding[b] = unit[0];
    }
    std::vector<std::pair<unsigned, unsigned>> encoding;  // units that do not become '?'
    for (unsigned u = 0; u < 0x10000; ++u) {
        const std::string out = Encode(CodePage, std::u16string(1, static_cast<char16_t>(u)));
        if (out.size() != 1) Fail("U+" + Hex(u, 4).substr(2) + " does not encode to one byte");
        const auto code = static_cast<unsigned char>(out[0]);
        if (code != '?') encoding.emplace_back(u, code);
    }
    CheckSurrogatesUnitByUnit(CodePage);

    std::printf("// Generated by tools/bestfit/gen_bestfit.cpp from the converter of %s for\n", PlatformName().c_str());
    std::printf("// code page 1252. Do not edit; run scripts/gen-bestfit instead.\n");
    std::printf("#pragma once\n\n#include <array>\n#include <cstdint>\n\nnamespace kestrune::tables {\n\n");
    std::printf("// MultiByteToWideChar: the UTF-16 code unit of each byte.\n");
    std::printf("inline constexpr std::array<char16_t, 256> Cp1252Decoding{{\n");
    for (unsigned b = 0; b < 256; ++b)
        std::printf("%s0x%04X,%s", b % 8 == 0 ? "    " : " ", decoding[b], b % 8 == 7 ? "\n" : "");
    std::printf("}};\n\n");

    std::printf("struct Cp1252Mapping {\n    char16_t unit;\n    std::uint8_t code;\n};\n\n");
    std::printf("// WideCharToMultiByte: every code unit, in ascending order, that does not\n");
    std::printf("// become '?'. Besides the reverse of the decoding table this holds the\n");
    std::printf("// best-fit mappings, such as U+0100 to 'A'. Surrogates, paired or not,\n");
    std::printf("// convert one unit at a time.\n");
    std::printf("inline constexpr std::array<Cp1252Mapping, %zu> Cp1252Encoding{{\n", encoding.size());
    for (std::size_t i = 0; i < encoding.size(); ++i)
        std::printf("%s{0x%04X, 0x%02X},%s", i % 6 == 0 ? "    " : " ", encoding[i].first, encoding[i].second,
                    i % 6 == 5 || i + 1 == encoding.size() ? "\n" : "");
    std::printf("}};\n\n}  // namespace kestrune::tables\n");
    return 0;
}

// --- Every other page: runs over the generic tables. ---

// Keys with their values, ascending by key, become runs: stretches where the
// value steps by one or stays the same, and lists in the pool between them.
void AppendRuns(const std::vector<std::pair<std::uint32_t, std::uint16_t>>& entries, std::vector<Run>& runs,
                std::vector<std::uint16_t>& pool) {
    constexpr std::uint32_t MinRun = 4;  // shorter stretches cost less as list entries
    std::size_t i = 0;
    while (i < entries.size()) {
        std::size_t end = i + 1;  // one past the keys that follow on from entries[i]
        while (end < entries.size() && entries[end].first == entries[end - 1].first + 1) ++end;
        std::size_t k = i;
        std::size_t listStart = end;
        const auto flush = [&](std::size_t at) {
            if (listStart == end) return;
            runs.push_back({static_cast<std::uint16_t>(entries[listStart].first), static_cast<std::uint32_t>(at - listStart),
                            static_cast<std::uint32_t>(pool.size()), RunKind::List});
            for (std::size_t p = listStart; p < at; ++p) pool.push_back(entries[p].second);
            listStart = end;
        };
        while (k < end) {
            std::uint32_t step = 1, same = 1;
            while (k + step < end && entries[k + step].second == entries[k].second + step) ++step;
            while (k + same < end && entries[k + same].second == entries[k].second) ++same;
            if (std::max(step, same) >= MinRun) {
                flush(k);
                const bool isStep = step >= same;
                runs.push_back({static_cast<std::uint16_t>(entries[k].first), isStep ? step : same, entries[k].second,
                                isStep ? RunKind::Step : RunKind::Same});
                k += isStep ? step : same;
            } else {
                if (listStart == end) listStart = k;
                ++k;
            }
        }
        flush(end);
        i = end;
    }
}

struct TPageTables {
    std::vector<ByteRange> leadBytes;
    std::vector<std::uint8_t> nonTrailBytes;
    std::vector<Run> decoding;
    std::vector<Run> encoding;
    std::vector<std::uint16_t> pool;
    std::uint16_t defaultCode = '?';

    CodePageData Data(unsigned codePage) const {
        return {codePage, defaultCode, leadBytes, nonTrailBytes, decoding, encoding, pool};
    }
};

TPageTables ReadPage(UINT codePage) {
    const std::string page = "code page " + std::to_string(codePage);
    CPINFO info{};
    if (!GetCPInfo(codePage, &info)) Fail("no " + page + " on this platform");
    TPageTables tables;
    std::vector<bool> lead(256, false);
    for (int r = 0; r + 1 < MAX_LEADBYTES && info.LeadByte[r] != 0; r += 2) {
        tables.leadBytes.push_back({info.LeadByte[r], info.LeadByte[r + 1]});
        for (unsigned b = info.LeadByte[r]; b <= info.LeadByte[r + 1]; ++b) lead[b] = true;
    }

    std::vector<std::pair<std::uint32_t, std::uint16_t>> decoding;
    std::vector<char16_t> single(256);
    for (unsigned b = 0; b < 256; ++b) {
        const std::u16string unit = Decode(codePage, std::string(1, static_cast<char>(b)));
        if (unit.size() != 1) Fail(page + ": byte " + Hex(b, 2) + " does not decode to one unit");
        single[b] = unit[0];
        decoding.emplace_back(b, unit[0]);
    }
    std::vector<bool> nonTrail(256, false), seen(256, false);
    for (unsigned l = 0; l < 256; ++l) {
        if (!lead[l]) continue;
        for (unsigned t = 0; t < 256; ++t) {
            const char bytes[2] = {static_cast<char>(l), static_cast<char>(t)};
            const std::u16string units = Decode(codePage, std::string(bytes, 2));
            const bool pair = units.size() == 1;
            if (!pair && units != std::u16string{single[l], single[t]})
                Fail(page + ": " + Hex(l, 2) + " " + Hex(t, 2) + " is neither a pair nor two bytes");
            if (seen[t] && nonTrail[t] == pair) Fail(page + ": byte " + Hex(t, 2) + " ends a pair after some lead bytes only");
            seen[t] = true;
            nonTrail[t] = !pair;
            if (pair) decoding.emplace_back(l << 8 | t, units[0]);
        }
    }
    for (unsigned t = 0; t < 256; ++t)
        if (nonTrail[t]) tables.nonTrailBytes.push_back(static_cast<std::uint8_t>(t));

    std::vector<std::uint16_t> encoder(0x10000);
    std::map<std::uint16_t, std::size_t> frequency;
    for (unsigned u = 0; u < 0x10000; ++u) {
        const std::string bytes = Encode(codePage, std::u16string(1, static_cast<char16_t>(u)));
        const auto b0 = bytes.empty() ? 0u : static_cast<unsigned char>(bytes[0]);
        if (bytes.size() == 1 && !lead[b0]) {
            encoder[u] = static_cast<std::uint16_t>(b0);
        } else if (bytes.size() == 2 && lead[b0]) {
            encoder[u] = static_cast<std::uint16_t>(b0 << 8 | static_cast<unsigned char>(bytes[1]));
        } else {
            Fail(page + ": U+" + Hex(u, 4).substr(2) + " encodes to neither a byte nor a pair");
        }
        ++frequency[encoder[u]];
    }
    CheckSurrogatesUnitByUnit(codePage);
    tables.defaultCode = std::max_element(frequency.begin(), frequency.end(), [](const auto& a, const auto& b) {
                             return a.second < b.second;
                         })->first;

    AppendRuns(decoding, tables.decoding, tables.pool);
    const std::vector<std::uint16_t> derived = TCodePageConverter::DerivedEncoder(tables.Data(codePage));
    std::vector<std::pair<std::uint32_t, std::uint16_t>> exceptions;
    for (std::uint32_t u = 0; u < 0x10000; ++u)
        if (derived[u] != encoder[u]) exceptions.emplace_back(u, encoder[u]);
    AppendRuns(exceptions, tables.encoding, tables.pool);
    if (tables.pool.size() > 0xFFFFFFu) Fail(page + ": pool too large");
    return tables;
}

// The tables against the platform: the whole dump, then random text in which
// lead bytes, trail bytes, NULs and surrogates meet in every order.
void Verify(UINT codePage, const TPageTables& tables) {
    const std::string page = "code page " + std::to_string(codePage);
    const TCodePageConverter converter(tables.Data(codePage));
    const std::string portable = kestrune::tools::ConversionDump(
        !tables.leadBytes.empty(), [&](const std::u16string& text) { return converter.Encode(text); },
        [&](const std::string& text) { return converter.Decode(text); });
    if (portable != PlatformDump(codePage)) Fail(page + ": the tables do not reproduce the platform's conversion");
    std::mt19937 random(codePage);
    const char bytePool[] = {'\0', 'a', '@', '\x7F', '\x80', '\x81', '\x8E', '\xA1', '\xA4', '\xDF', '\xE0', '\xFE', '\xFF'};
    const char16_t unitPool[] = {u'a', 0, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0x00E9, 0x0301, 0x3042, 0x4E2D, 0xFF21, 0xE000};
    for (int round = 0; round < 20000; ++round) {
        std::string bytes(random() % 12, '\0');
        for (auto& b : bytes) b = random() % 3 ? bytePool[random() % std::size(bytePool)] : static_cast<char>(random());
        if (converter.Decode(bytes) != Decode(codePage, bytes)) Fail(page + ": decoding differs on random bytes");
        std::u16string units(random() % 12, u'\0');
        for (auto& u : units) u = random() % 3 ? unitPool[random() % std::size(unitPool)] : static_cast<char16_t>(random());
        if (converter.Encode(units) != Encode(codePage, units)) Fail(page + ": encoding differs on random text");
    }
}

template <typename T, typename Format>
void PrintArray(const char* declaration, const std::vector<T>& items, int perLine, Format format) {
    std::printf("constexpr %s[] = {\n", declaration);
    for (std::size_t i = 0; i < items.size(); ++i)
        std::printf("%s%s,%s", i % perLine == 0 ? "    " : " ", format(items[i]).c_str(),
                    i % perLine == static_cast<std::size_t>(perLine - 1) || i + 1 == items.size() ? "\n" : "");
    std::printf("};\n\n");
}

int WritePage(UINT codePage) {
    if (codePage == 1252) Fail("code page 1252 has its own table; run gen_bestfit without arguments");
    const TPageTables tables = ReadPage(codePage);
    Verify(codePage, tables);
    std::fprintf(stderr, "gen_bestfit: code page %u: %zu decoding runs, %zu encoding runs, %zu pool entries\n", codePage,
                 tables.decoding.size(), tables.encoding.size(), tables.pool.size());

    std::printf("// Generated by tools/bestfit/gen_bestfit.cpp from the converter of %s for\n", PlatformName().c_str());
    std::printf("// code page %u. Do not edit; run scripts/gen-bestfit instead.\n", codePage);
    std::printf("#include \"KCcodepage_pages.h\"\n\nnamespace kestrune::tables {\nnamespace {\n\n");
    std::printf("using enum RunKind;\n\n");
    if (!tables.leadBytes.empty())
        PrintArray("ByteRange LeadBytes", tables.leadBytes, 8,
                   [](const ByteRange& r) {
                       return std::string("{").append(Hex(r.first, 2)).append(", ").append(Hex(r.last, 2)).append("}");
                   });
    if (!tables.nonTrailBytes.empty())
        PrintArray("std::uint8_t NonTrailBytes", tables.nonTrailBytes, 12, [](std::uint8_t b) { return Hex(b, 2); });
    if (!tables.pool.empty()) PrintArray("std::uint16_t Pool", tables.pool, 12, [](std::uint16_t v) { return Hex(v, 4); });
    const auto run = [](const Run& r) {
        static const char* const kinds[] = {"Step", "Same", "List"};
        // Appended piece by piece: GCC 12 warns wrongly (-Wrestrict) about "{" + std::string.
        std::string text("{");
        text.append(Hex(r.first, 4)).append(", ").append(std::to_string(r.count)).append(", ");
        text.append(r.kind == RunKind::List ? std::to_string(r.value) : Hex(r.value, 4)).append(", ");
        return text.append(kinds[static_cast<int>(r.kind)]).append("}");
    };
    PrintArray("Run Decoding", tables.decoding, 3, run);
    if (!tables.encoding.empty()) PrintArray("Run Encoding", tables.encoding, 3, run);
    std::printf("}  // namespace\n\n");
    std::printf("extern const CodePageData Cp%u{%u, %s, %s, %s, Decoding, %s, %s};\n\n", codePage, codePage,
                Hex(tables.defaultCode, 4).c_str(), tables.leadBytes.empty() ? "{}" : "LeadBytes",
                tables.nonTrailBytes.empty() ? "{}" : "NonTrailBytes", tables.encoding.empty() ? "{}" : "Encoding",
                tables.pool.empty() ? "{}" : "Pool");
    std::printf("}  // namespace kestrune::tables\n");
    return 0;
}

int WriteReference() {
    std::printf("# SHA-256 of each code page's conversion dump (tools/bestfit/conversion_dump.h)\n");
    std::printf("# from the converter of %s. Do not edit; run scripts/gen-bestfit instead.\n", PlatformName().c_str());
    for (const unsigned codePage : Pages)
        std::printf("%u %s\n", codePage, kestrune::tools::Sha256Hex(PlatformDump(codePage)).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    const std::vector<std::string> args(argv + 1, argv + argc);
    int status = 2;
    if (args.empty())
        status = Write1252();
    else if (args.size() == 2 && args[0] == "page")
        status = WritePage(static_cast<UINT>(std::strtoul(args[1].c_str(), nullptr, 10)));
    else if (args.size() == 1 && args[0] == "reference")
        status = WriteReference();
    else
        std::fprintf(stderr, "usage: gen_bestfit [page N | reference]\n");
    return status == 0 && std::fflush(stdout) == 0 ? 0 : status == 0 ? 1 : status;
}
