// The portable converter against the platform's own, for every UTF-16 code
// unit and every byte in every supported code page; and the object's
// conversion through the calling thread's ANSI code page.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "object/KCcodepage.h"
#include "object/UKestrune.h"
#include "tools/bestfit/conversion_dump.h"

namespace kestrune {
namespace {

std::string Platform(const std::u16string& text, UINT codePage = 1252) {
    if (text.empty()) return {};
    const auto* units = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    std::string out(static_cast<std::size_t>(WideCharToMultiByte(codePage, 0, units, length, nullptr, 0, nullptr, nullptr)), '\0');
    out.resize(static_cast<std::size_t>(
        WideCharToMultiByte(codePage, 0, units, length, out.data(), static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}

std::u16string Platform(const std::string& text, UINT codePage = 1252) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    std::u16string out(static_cast<std::size_t>(MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0)), u'\0');
    out.resize(static_cast<std::size_t>(MultiByteToWideChar(codePage, 0, text.data(), length,
                                                            reinterpret_cast<wchar_t*>(out.data()),
                                                            static_cast<int>(out.size()))));
    return out;
}

std::u16string EveryCodeUnit() {
    std::u16string all(0x10000, u'\0');
    for (std::size_t u = 0; u < all.size(); ++u) all[u] = static_cast<char16_t>(u);
    return all;
}

std::string EveryByte() {
    std::string all(256, '\0');
    for (std::size_t b = 0; b < all.size(); ++b) all[b] = static_cast<char>(b);
    return all;
}

TEST(CodepagePlatform, PortableEqualsPlatformForEveryCodeUnitAndByte) {
    for (char32_t u = 0; u < 0x10000; ++u) {
        const std::u16string unit(1, static_cast<char16_t>(u));
        ASSERT_EQ(ToCp1252(unit), Platform(unit)) << std::hex << "U+" << static_cast<unsigned>(u);
    }
    for (unsigned b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        ASSERT_EQ(FromCp1252(byte), Platform(byte)) << std::hex << "byte " << b;
    }
    // In one piece too, where neighbours could matter (DBFF DC00 is a pair).
    EXPECT_EQ(ToCp1252(EveryCodeUnit()), Platform(EveryCodeUnit()));
    EXPECT_EQ(FromCp1252(EveryByte()), Platform(EveryByte()));
}

TEST(CodepagePlatform, SurrogatesPairedOrNotConvertAsThePlatformDoes) {
    for (const std::u16string& text : {std::u16string(u"\U0001F600"), std::u16string(u"a\xD83D"), std::u16string(u"\xDE00z"),
                                       std::u16string(u"\xDE00\xD83D"), std::u16string(u"\xD800\xD800\xDC00\xDC00")}) {
        EXPECT_EQ(ToCp1252(text), Platform(text));
    }
    // Random text rich in surrogates, combining marks and best-fit letters.
    std::mt19937 random(7);
    const char16_t pool[] = {u'a', 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xD83D, 0xDE00, 0x0301, 0x0100, 0x20AC, 0xFF21, 0x4E2D};
    for (int round = 0; round < 2000; ++round) {
        std::u16string text(random() % 12, u'\0');
        for (auto& c : text) c = pool[random() % std::size(pool)];
        ASSERT_EQ(ToCp1252(text), Platform(text));
    }
}

TEST(CodepagePlatform, EveryPageEqualsThePlatform) {
    std::mt19937 random(11);
    for (const unsigned page : SupportedCodePages()) {
        CPINFO info{};
        ASSERT_TRUE(GetCPInfo(page, &info)) << page;
        const auto portable = tools::ConversionDump(
            info.MaxCharSize == 2, [&](const std::u16string& text) { return ToCodePage(page, text); },
            [&](const std::string& text) { return FromCodePage(page, text); });
        const auto platform = tools::ConversionDump(
            info.MaxCharSize == 2, [&](const std::u16string& text) { return Platform(text, page); },
            [&](const std::string& text) { return Platform(text, page); });
        EXPECT_TRUE(portable == platform) << "code page " << page;
        // Longer text, where pairs and their neighbours meet.
        for (int round = 0; round < 300; ++round) {
            std::string bytes(random() % 40, '\0');
            for (auto& b : bytes) b = static_cast<char>(random());
            ASSERT_EQ(FromCodePage(page, bytes), Platform(bytes, page)) << page;
            std::u16string units(random() % 40, u'\0');
            for (auto& u : units) u = static_cast<char16_t>(random() % 2 ? random() % 0x3000 : random());
            ASSERT_EQ(ToCodePage(page, units), Platform(units, page)) << page;
        }
    }
}

struct TThreadJob {
    LCID locale;
    const std::function<void()>* body;
};

// A thread routine is WINAPI (stdcall on 32-bit x86), which a lambda is not.
DWORD WINAPI RunThreadJob(void* context) {
    const auto* job = static_cast<TThreadJob*>(context);
    if (job->locale != 0 && !SetThreadLocale(job->locale)) return 1;
    (*job->body)();
    return 0;
}

// Runs body on a thread of its own, in the given locale (0: left alone).
void OnThread(LCID locale, const std::function<void()>& body) {
    TThreadJob job{locale, &body};
    const HANDLE thread = CreateThread(nullptr, 0, RunThreadJob, &job, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD status = 1;
    GetExitCodeThread(thread, &status);
    CloseHandle(thread);
    EXPECT_EQ(status, 0u);
}

// A page that sets its LCID changes its thread's code page, and with it the
// bytes the object digests, encrypts and gives back.
TEST(CodepagePlatform, ObjectConvertsInTheThreadsCodePage) {
    const std::u16string text = u"\u041F\u0430\u0440\u043E\u043B\u044C \u03A9\u03BC\u03AD\u03B3\u03B1 \u65E5\u672C\u8A9E \u00E9";
    const struct {
        LANGID language;
        unsigned page;
    } cases[] = {{MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), 1251},
                 {MAKELANGID(LANG_GREEK, SUBLANG_DEFAULT), 1253},
                 {MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), 932}};
    // Digests and ciphertexts of the same bytes through 1252 serve as the answers.
    if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page " << GetACP() << ", not 1252";
    const TKestrune k;
    for (const auto& c : cases) {
        const std::string bytes = ToCodePage(c.page, text);
        const std::u16string asLatin = FromCp1252(bytes);
        ASSERT_EQ(ToCp1252(asLatin), bytes);
        const std::u16string digest = k.HashString(asLatin, 6), sealed = k.EncryptString(asLatin, asLatin, 15);
        OnThread(MAKELCID(c.language, SORT_DEFAULT), [&] {
            EXPECT_EQ(AnsiCodePage(), c.page);
            EXPECT_EQ(ToAnsi(text), bytes);
            EXPECT_EQ(FromAnsi(bytes), FromCodePage(c.page, bytes));
            EXPECT_EQ(k.HashString(text, 6), digest) << c.page;
            EXPECT_EQ(k.EncryptString(text, text, 15), sealed) << c.page;
            EXPECT_EQ(k.DecryptString(sealed, text, 15), FromCodePage(c.page, bytes)) << c.page;
        });
    }
    OnThread(0, [&] {
        EXPECT_EQ(AnsiCodePage(), 1252u);
        EXPECT_EQ(ToAnsi(text), ToCp1252(text));
    });
}

TEST(CodepagePlatform, ObjectConvertsThroughTheAnsiCodePage) {
    const std::u16string sample = u"caf\u00E9 \u0100 \u20AC \U0001F600 \u4E2D";
    EXPECT_EQ(ToAnsi(sample), Platform(sample, CP_THREAD_ACP));
    EXPECT_EQ(FromAnsi(EveryByte()), Platform(EveryByte(), CP_THREAD_ACP));
    EXPECT_EQ(ToAnsi(u""), "");
    EXPECT_EQ(FromAnsi(""), u"");
    if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page " << GetACP() << ", not 1252";
    // With 1252 the object on Windows gives the bytes the portable one gives.
    EXPECT_EQ(ToAnsi(EveryCodeUnit()), ToCp1252(EveryCodeUnit()));
    EXPECT_EQ(FromAnsi(EveryByte()), FromCp1252(EveryByte()));
}

}  // namespace
}  // namespace kestrune
