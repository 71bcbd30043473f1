// identify: values the object made with every cipher, digest and mode are
// traced back to those settings, ranked first; a wrong password finds
// nothing; the known prefix and type filter exactly; digest texts name
// their digest; and the same through the tool and batch.
#include <gtest/gtest.h>

#include "cli_run.h"

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/batch.h"
#include "cli/identify.h"
#include "framework/KCblockciphers.h"
#include "object/KCcatalogue.h"
#include "object/KCcodepage.h"
#include "object/UKestrune.h"

namespace kestrune::cli {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Sample = std::vector<std::uint8_t>;

constexpr std::u16string_view Password = u"correct horse battery staple";
constexpr std::u16string_view Text = u"Invoice 2024-117: Grüße aus Köln, paid in full";

std::uint32_t Crc32(const Sample& data, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = from; i < std::min(to, data.size()); ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void Put(Sample& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }
void PutBE32(Sample& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}
void PutLE(Sample& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

constexpr std::string_view Note = "Minutes: the budget for 2025 was approved by all members present.\n";

// A 4 x 2 RGB image whose pixel data is a stored deflate block.
Sample Png() {
    Sample png;
    Put(png, "\x89PNG\r\n\x1a\n");
    const auto chunk = [&](std::string_view type, const Sample& data) {
        PutBE32(png, static_cast<std::uint32_t>(data.size()));
        const std::size_t start = png.size();
        Put(png, type);
        png.insert(png.end(), data.begin(), data.end());
        PutBE32(png, Crc32(png, start));
    };
    Sample header;
    PutBE32(header, 4);
    PutBE32(header, 2);
    header.insert(header.end(), {8, 2, 0, 0, 0});
    chunk("IHDR", header);
    Sample rows;
    for (int y = 0; y < 2; ++y) {
        rows.push_back(0);
        for (int x = 0; x < 12; ++x) rows.push_back(static_cast<std::uint8_t>(x * 20));
    }
    Sample zlib = {0x78, 0x01, 0x01, static_cast<std::uint8_t>(rows.size()), 0, static_cast<std::uint8_t>(~rows.size()), 0xFF};
    zlib.insert(zlib.end(), rows.begin(), rows.end());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : rows) b = (b + (a = (a + byte) % 65521)) % 65521;
    PutBE32(zlib, (b << 16) | a);
    chunk("IDAT", zlib);
    chunk("IEND", {});
    return png;
}

Sample Pdf() {
    Sample pdf;
    Put(pdf, "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\ntrailer\n<< /Root 1 0 R >>\n%%EOF\n");
    return pdf;
}

// One stored member, note.txt.
Sample Zip() {
    Sample content(Note.begin(), Note.end()), zip;
    const auto header = [&](bool central) {
        Put(zip, central ? "PK\x01\x02" : "PK\x03\x04");
        if (central) PutLE(zip, 10, 2);
        PutLE(zip, 10, 2);            // version needed
        PutLE(zip, 0, 2);             // flags
        PutLE(zip, 0, 2);             // stored
        PutLE(zip, 0x6000, 2);        // time
        PutLE(zip, 0x5A21, 2);        // date
        PutLE(zip, Crc32(content), 4);
        PutLE(zip, static_cast<std::uint32_t>(content.size()), 4);
        PutLE(zip, static_cast<std::uint32_t>(content.size()), 4);
        PutLE(zip, 8, 2);             // name length
        PutLE(zip, 0, 2);             // extra length
        if (central) zip.insert(zip.end(), 12, 0);  // comment, disk, attributes, offset 0 (the local header)
        Put(zip, "note.txt");
    };
    header(false);
    zip.insert(zip.end(), content.begin(), content.end());
    const auto directory = static_cast<std::uint32_t>(zip.size());
    header(true);
    const auto directorySize = static_cast<std::uint32_t>(zip.size()) - directory;
    Put(zip, "PK\x05\x06");
    PutLE(zip, 0, 4);
    PutLE(zip, 1, 2);
    PutLE(zip, 1, 2);
    PutLE(zip, directorySize, 4);
    PutLE(zip, directory, 4);
    PutLE(zip, 0, 2);
    return zip;
}

Sample Gzip() {
    Sample content(Note.begin(), Note.end());
    Sample gz = {0x1F, 0x8B, 8, 8, 0, 0, 0, 0, 0, 3};
    Put(gz, std::string_view("note.txt", 9));  // with its terminating zero
    gz.insert(gz.end(), {1, static_cast<std::uint8_t>(content.size()), 0, static_cast<std::uint8_t>(~content.size()), 0xFF});
    gz.insert(gz.end(), content.begin(), content.end());
    PutLE(gz, Crc32(content), 4);
    PutLE(gz, static_cast<std::uint32_t>(content.size()), 4);
    return gz;
}

Sample PlainText() { return Sample(Note.begin(), Note.end()); }

struct TSampleKind {
    const char* name;
    Sample (*make)();
    const char* mime;
};
constexpr TSampleKind Samples[] = {
    {"png", Png, "image/png"}, {"pdf", Pdf, "application/pdf"}, {"zip", Zip, "application/zip"},
    {"gzip", Gzip, "application/gzip"}, {"text", PlainText, "text/plain"},
};

std::vector<std::int32_t> CodesOf(auto rows) {
    std::vector<std::int32_t> codes;
    for (const auto& row : rows) codes.push_back(row.code);
    return codes;
}

TIdentifyOptions KnownPrefix(std::string prefix) {
    TIdentifyOptions options;
    options.knownPrefix = std::move(prefix);
    return options;
}
TIdentifyOptions KnownType(std::string type) {
    TIdentifyOptions options;
    options.knownType = std::move(type);
    return options;
}

bool IsStream(std::int32_t cipher) { return CipherClassFor(cipher).GetBlockSize() < 0; }

class Identify : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kestrune-identify-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        passwords.emplace_back(std::u16string(Password));
    }
    void TearDown() override { fs::remove_all(dir); }

    // The file as the object encrypts it with these settings.
    Sample Encrypted(const Sample& plain, std::int32_t cipher, std::int32_t digest, std::int32_t mode,
                     std::u16string_view password = Password) {
        const fs::path source = dir / "plain", dest = dir / "stored";
        std::ofstream(source, std::ios::binary).write(reinterpret_cast<const char*>(plain.data()), plain.size());
        TKestrune object;
        object.SetHashAlgorithm(digest);
        object.SetCipherMode(mode);
        EXPECT_EQ(object.EncryptFile(Utf8ToUtf16(source.string()), Utf8ToUtf16(dest.string()), password, cipher), 0);
        const std::string bytes = testing_cli::Slurp(dest);
        return Sample(bytes.begin(), bytes.end());
    }
    // The bytes EncryptFile writes, without two file system syncs per
    // value (the other file tests encrypt through the object itself).
    static Sample EncryptedInMemory(const Sample& plain, std::int32_t cipher, std::int32_t digest, std::int32_t mode) {
        auto encryptor = CreateCipherFor(cipher);
        if (auto* block = dynamic_cast<TKC_blockcipher*>(encryptor.get())) block->CipherMode = static_cast<TKC_ciphermode>(mode);
        encryptor->InitFromPassword(ToAnsi(Password), DigestClassFor(digest));
        Sample bytes = plain;
        encryptor->Encrypt(bytes, bytes);
        return bytes;
    }
    std::u16string EncryptedText(std::u16string_view text, std::int32_t cipher, std::int32_t digest,
                                 std::u16string_view password = Password) {
        TKestrune object;
        object.SetHashAlgorithm(digest);
        return object.EncryptString(text, password, cipher);
    }

    fs::path dir;
    std::vector<TSecretText> passwords;
};

TEST_F(Identify, EveryCipherAndDigestOfAStringRanksFirst) {
    for (std::int32_t cipher : CodesOf(CipherCatalogue()))
        for (std::int32_t digest : CodesOf(DigestCatalogue())) {
            SCOPED_TRACE(testing::Message() << "cipher " << cipher << ", digest " << digest);
            const auto result = IdentifyText(EncryptedText(Text, cipher, digest), passwords, {});
            ASSERT_FALSE(result.candidates.empty());
            const TCandidate& best = result.candidates.front();
            EXPECT_EQ(std::tuple(best.cipher, best.digest), std::tuple(cipher, digest));
            EXPECT_EQ(best.printable, 1.0);
            EXPECT_EQ(best.preview, Utf16ToUtf8(Text.substr(0, 40)) + "...");
            EXPECT_EQ(result.tried, 200u);
        }
}

// Five kinds of file take turns, so that each cipher meets several. The
// first 24 bytes, known, leave exactly one setting: the modes that share
// the first block part there. Only the stored files' first 32 bytes are
// searched, which keeps the 921,600 trial decryptions quick; the test
// below ranks whole files.
TEST_F(Identify, EveryCipherDigestAndModeOfAFileIsFoundByItsStart) {
    std::array<Sample, std::size(Samples)> samples;
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = Samples[i].make();
    std::size_t turn = 0;
    for (std::int32_t cipher : CodesOf(CipherCatalogue()))
        for (std::int32_t digest : CodesOf(DigestCatalogue()))
            for (std::int32_t mode = 0; mode < (IsStream(cipher) ? 1 : 5); ++mode) {
                const std::size_t kind = turn++ % std::size(Samples);
                SCOPED_TRACE(testing::Message() << Samples[kind].name << ", cipher " << cipher << ", digest " << digest
                                                << ", mode " << mode);
                const auto options = KnownPrefix(std::string(samples[kind].begin(), samples[kind].begin() + 24));
                const Sample stored = EncryptedInMemory(samples[kind], cipher, digest, mode);
                const auto result = IdentifyFileStart(ConstBytes(stored).first(32), passwords, options);
                ASSERT_EQ(result.candidates.size(), 1u);
                const TCandidate& found = result.candidates.front();
                EXPECT_EQ(std::tuple(found.cipher, found.digest, found.mode),
                          std::tuple(cipher, digest, IsStream(cipher) ? std::nullopt : std::optional(mode)));
            }
}

// Without hints, by libmagic and the structure of the start: every mode of
// a 64-bit and a 128-bit block cipher and the stream cipher, for every kind.
TEST_F(Identify, EveryKindOfFileInEveryModeRanksFirst) {
    std::int32_t digest = 0;
    for (const TSampleKind& kind : Samples)
        for (std::int32_t cipher : {0, 15, 12})
            for (std::int32_t mode = 0; mode < (IsStream(cipher) ? 1 : 5); ++mode) {
                digest = (digest + 1) % 10;
                SCOPED_TRACE(testing::Message() << kind.name << ", cipher " << cipher << ", digest " << digest << ", mode " << mode);
                const auto result = IdentifyFileStart(Encrypted(kind.make(), cipher, digest, mode), passwords, {});
                ASSERT_FALSE(result.candidates.empty());
                const TCandidate& best = result.candidates.front();
                EXPECT_EQ(std::tuple(best.cipher, best.digest, best.mode),
                          std::tuple(cipher, digest, IsStream(cipher) ? std::nullopt : std::optional(mode)));
                EXPECT_EQ(best.mime, kind.mime);
                EXPECT_EQ(result.tried, 960u);
            }
}

TEST_F(Identify, AWrongPasswordFindsNothingPlausible) {
    const std::vector<TSecretText> wrong = [] {
        std::vector<TSecretText> list;
        list.emplace_back(std::u16string(u"Tr0ub4dor&3"));
        return list;
    }();
    EXPECT_TRUE(IdentifyText(EncryptedText(Text, 15, 6), wrong, {}).candidates.empty());
    // Nothing found sends every start to libmagic: two kinds keep it quick.
    for (const TSampleKind& kind : {Samples[0], Samples[3]}) {
        SCOPED_TRACE(kind.name);
        EXPECT_TRUE(IdentifyFileStart(Encrypted(kind.make(), 15, 6, 4), wrong, {}).candidates.empty());
    }
}

TEST_F(Identify, AListOfPasswordsNamesTheOneThatFits) {
    std::vector<TSecretText> list;
    for (auto p : {u"123456", u"letmein", u"correct horse battery staple", u"dragon"}) list.emplace_back(std::u16string(p));
    const auto result = IdentifyText(EncryptedText(Text, 4, 1), list, {});
    ASSERT_FALSE(result.candidates.empty());
    EXPECT_EQ(result.candidates.front().password, 2u);
    EXPECT_EQ(result.tried, 800u);
}

// A value too short to be told from noise by itself becomes exact with what is known.
TEST_F(Identify, AKnownPrefixOrTypeLeavesOnlyMatchingSettings) {
    const auto text = IdentifyText(EncryptedText(u"Hi Bo", 3, 2), passwords, KnownPrefix("Hi "));
    ASSERT_FALSE(text.candidates.empty());
    EXPECT_EQ(std::tuple(text.candidates.front().cipher, text.candidates.front().digest), std::tuple(3, 2));
    for (const auto& c : text.candidates) EXPECT_TRUE(c.preview.starts_with("Hi ")) << c.preview;

    const Sample png = Encrypted(Png(), 18, 8, 2);
    const auto typed = IdentifyFileStart(png, passwords, KnownType("image/png"));
    ASSERT_FALSE(typed.candidates.empty());
    EXPECT_EQ(std::tuple(typed.candidates.front().cipher, typed.candidates.front().mode), std::tuple(18, std::optional(2)));
    for (const auto& c : typed.candidates) EXPECT_EQ(c.mime, "image/png");
    EXPECT_TRUE(IdentifyFileStart(png, passwords, KnownType("pdf")).candidates.empty());
    const auto prefixed = IdentifyFileStart(png, passwords, KnownPrefix(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)));
    ASSERT_FALSE(prefixed.candidates.empty());
    EXPECT_EQ(prefixed.candidates.front().digest, 8);
}

TEST(IdentifyTypes, ATypeMatchesTheMimeTypeItsPartsOrTheDescriptionsFirstWords) {
    const struct {
        const char* wanted;
        bool matches;
    } cases[] = {{"image/png", true}, {"IMAGE", true}, {"png", true}, {"PNG image", true},
                 {"PN", false},       {"pdf", false},  {"", false},   {"image data", false}};
    for (const auto& c : cases)
        EXPECT_EQ(TypeMatches(c.wanted, "image/png", "PNG image data, 4 x 2, 8-bit/color RGB"), c.matches) << c.wanted;
}

TEST_F(Identify, EveryDigestIsNamedByItsDigestText) {
    const fs::path file = dir / "note";
    std::ofstream(file, std::ios::binary) << Note;
    const TKestrune object;
    for (std::int32_t code : CodesOf(DigestCatalogue())) {
        SCOPED_TRACE(code);
        std::string hex = Utf16ToUtf8(object.HashString(Text, code));
        EXPECT_EQ(IdentifyTextDigest(hex, Text), std::vector{code});
        for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(IdentifyTextDigest(" " + hex + "\n", Text), std::vector{code});
        EXPECT_EQ(IdentifyFileDigest(Utf16ToUtf8(object.HashFile(Utf8ToUtf16(file.string()), code)), file.string()),
                  std::vector{code});
    }
    EXPECT_TRUE(IdentifyTextDigest(std::string(32, '0'), Text).empty());
    EXPECT_THROW(IdentifyTextDigest("not hex", Text), std::invalid_argument);
    EXPECT_THROW(IdentifyTextDigest("ABCD", Text), std::invalid_argument);
}

TEST_F(Identify, BatchRequestsAnswerWithTheJsonOfTheTool) {
    TScriptHost host{std::string(BatchSource)};
    const Json value = Utf16ToUtf8(EncryptedText(Text, 15, 6));
    const auto ask = [&](const Json& request) { return Json::parse(AnswerLine(host, request.dump()).value()); };

    const Json found = ask({{"id", 1}, {"identify", value}, {"passwords", {"x", Utf16ToUtf8(Password)}}, {"top", 1}});
    ASSERT_EQ(found.at("id"), 1) << found;
    const Json& best = found.at("result").at("candidates").at(0);
    EXPECT_EQ(std::tuple(best.at("cipher"), best.at("cipher_code"), best.at("hash"), best.at("hash_code"), best.at("password_line")),
              std::tuple("Rijndael", 15, "SHA-256", 6, 2));
    EXPECT_EQ(found.at("result").at("candidates").size(), 1u);

    const fs::path file = dir / "stored";
    const Sample pdf = Encrypted(Pdf(), 0, 0, 1);
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(pdf.data()), pdf.size());
    const Json typed = ask({{"identify", {{"file", file.string()}}}, {"password", Utf16ToUtf8(Password)}, {"known_type", "pdf"}});
    EXPECT_EQ(typed.at("result").at("candidates").at(0).at("mode"), "cfb8") << typed;

    const TKestrune object;
    const Json digest = ask({{"identify", "abc"}, {"digest", Utf16ToUtf8(object.HashString(u"abc", 9))}});
    EXPECT_EQ(digest.at("result"), Json::parse(R"({"digests": [{"hash": "Tiger", "hash_code": 9}]})"));

    for (const Json& refused : {Json{{"identify", value}},
                                Json{{"identify", value}, {"password", "a"}, {"passwords", {"b"}}},
                                Json{{"identify", value}, {"password", "a"}, {"known_type", "png"}},
                                Json{{"identify", 7}, {"password", "a"}}, Json{{"identify", "abc"}, {"digest", "12"}}})
        EXPECT_EQ(ask(refused).at("error").at("hresult"), "0x80070057") << refused;
}

// The tool: the table, --json, and the exit statuses 0, 1 and 2.
TEST_F(Identify, TheToolAnswersWithExitStatuses) {
    const std::string value = Utf16ToUtf8(EncryptedText(Text, 8, 5));
    const std::string pass = "KESTRUNE_PASSWORD='correct horse battery staple' ";
    auto run = testing_cli::RunShell(dir, pass + "$K identify " + value);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("rank  score  cipher  hash   printable  preview\n")) << run.out;
    EXPECT_NE(run.out.find("   1"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("IDEA    SHA-1  100%       Invoice 2024-117"), std::string::npos) << run.out;

    run = testing_cli::RunShell(dir, pass + "$K identify --json --top 2 - <<< " + value);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto answer = nlohmann::ordered_json::parse(run.out);
    EXPECT_EQ(answer.at("tried"), 200);
    const auto& best = answer.at("candidates").at(0);
    std::vector<std::string> keys;
    for (const auto& [key, v] : best.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"rank", "score", "cipher", "cipher_code", "hash", "hash_code", "printable", "preview"}));

    run = testing_cli::RunShell(dir, "$K identify --password wrong " + value);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("none of the 200 settings tried"), std::string::npos) << run.err;

    for (const char* usage : {"$K identify --password x", "$K identify --password x --file a b",
                              "$K identify --password x --known-type png abc=", "$K identify --digest 12 abc"}) {
        run = testing_cli::RunShell(dir, usage);
        EXPECT_EQ(run.status, 2) << usage << ": " << run.err;
    }
    run = testing_cli::RunShell(dir, "$K identify --digest 900150983cd24fb0d6963f7d28e17f72 abc");
    EXPECT_EQ(std::tuple(run.status, run.out), std::tuple(0, "MD5\n"));
}

}  // namespace
}  // namespace kestrune::cli
