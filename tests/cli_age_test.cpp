// The age format: its encodings and key derivation against published
// vectors, the chunked payload at its boundaries, and the tool's upgrade
// and age-decrypt checked by Debian's age itself, both ways.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/age.h"
#include "cli_run.h"
#include "tests/memory_stream.h"

namespace kestrune::cli::age {
namespace {

namespace fs = std::filesystem;
using testing_cli::RunShell;
using testing_cli::Slurp;

std::vector<std::uint8_t> Hex(std::string_view hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return bytes;
}

ConstBytes AsBytes(std::string_view text) { return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}; }

// A key pair that age-keygen made.
constexpr std::string_view SecretKey = "AGE-SECRET-KEY-1N78GWRL9384TNFU4VWYEC05SV906VJRMRAN727QLXPWMSEG8UPQSAFCFAG";
constexpr std::string_view PublicKey = "age19adj3nxw8949ez3azrtdwgmgp7ecv0avas6upde7hfhxr6rhcfzs5wrhpx";

TEST(AgeEncoding, HkdfMatchesRfc5869) {
    const auto ikm = Hex("0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b");
    std::vector<std::uint8_t> okm(42);
    HkdfSha256(ikm, Hex("000102030405060708090a0b0c"), std::string(reinterpret_cast<const char*>(Hex("f0f1f2f3f4f5f6f7f8f9").data()), 10), okm);
    EXPECT_EQ(okm, Hex("3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"));
    HkdfSha256(ikm, {}, "", okm);  // no salt, no info: test case 3
    EXPECT_EQ(okm, Hex("8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"));
}

TEST(AgeEncoding, Base64IsUnpaddedAndCanonical) {
    const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
        {"", ""}, {"Zg", "f"}, {"Zm8", "fo"}, {"Zm9v", "foo"}, {"Zm9vYg", "foob"},
        {"Zg==", std::nullopt},    // padding
        {"Zh", std::nullopt},      // unused bits set: a second spelling of "f"
        {"Z", std::nullopt},       // no whole byte
        {"Zm9v\n", std::nullopt},  // line break
        {"-_8", std::nullopt},     // the URL alphabet
    };
    for (const auto& [text, bytes] : cases) {
        const auto decoded = DecodeBase64(text);
        ASSERT_EQ(decoded.has_value(), bytes.has_value()) << text;
        if (!bytes) continue;
        EXPECT_EQ(std::string(decoded->begin(), decoded->end()), *bytes) << text;
        EXPECT_EQ(EncodeBase64(AsBytes(*bytes)), text);
    }
}

TEST(AgeEncoding, KeysReadAsAgeKeygenWritesThem) {
    EXPECT_EQ(RecipientOf(ParseIdentity(SecretKey)), PublicKey);
    const auto key = ParseRecipient(PublicKey);
    EXPECT_EQ(Bech32Encode("age", key), PublicKey);
    std::string flipped(PublicKey);
    flipped[10] = flipped[10] == 'q' ? 'p' : 'q';
    std::string upper(PublicKey);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& bad : {flipped, upper, std::string("age1"), std::string(SecretKey), std::string("ssh-ed25519 AAAA")})
        EXPECT_THROW(ParseRecipient(bad), EAge) << bad;
    EXPECT_THROW(ParseIdentity(std::string(PublicKey)), EAge);
    try {
        ParseIdentity(std::string(SecretKey.substr(0, 70)) + "QQQ");
        ADD_FAILURE() << "a mistyped secret key was taken";
    } catch (const EAge& e) {
        EXPECT_EQ(std::string(e.what()).find("AGE-SECRET-KEY-1N78"), std::string::npos) << "the key is echoed";
    }
}

TEST(AgeStream, RoundTripsAtChunkBoundariesWithOneTagPerChunk) {
    TRecipients recipients;
    recipients.keys.push_back(ParseRecipient(PublicKey));
    TIdentities identities;
    identities.keys.push_back(ParseIdentity(SecretKey));
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, ChunkSize - 1, ChunkSize, ChunkSize + 1, 3 * ChunkSize}) {
        for (bool armor : {false, true}) {
            std::vector<std::uint8_t> plain(size);
            for (std::size_t i = 0; i < size; ++i) plain[i] = static_cast<std::uint8_t>(i * 7 + 3);
            test::MemoryStream file;
            TAgeWriter writer(file, recipients, armor);
            for (std::size_t at = 0; at < size; at += 1000) writer.Write(ConstBytes(plain).subspan(at, std::min<std::size_t>(1000, size - at)));
            writer.Finish();
            if (!armor) {
                const std::string text(file.data.begin(), file.data.end());
                const std::size_t payload = text.find('\n', text.find("\n--- ") + 1) + 1 + 16;
                const std::size_t chunks = std::max<std::size_t>(1, (size + ChunkSize - 1) / ChunkSize);
                EXPECT_EQ(file.data.size(), payload + size + 16 * chunks) << size;
            }
            std::vector<std::uint8_t> back;
            EXPECT_EQ(Decrypt(file, identities, [&](ConstBytes chunk) { back.insert(back.end(), chunk.begin(), chunk.end()); }), size);
            EXPECT_EQ(back, plain) << size << (armor ? " armored" : "");
        }
    }
}

// The tool against Debian's age, in a directory with a key pair from age-keygen.
class AgeTool : public testing::Test {
protected:
    void SetUp() override {
        if (::access("/usr/bin/age", X_OK) != 0) GTEST_SKIP() << "age is not installed (scripts/setup installs it)";
        char pattern[] = "/tmp/kestrune-age-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        ASSERT_EQ(Run("age-keygen -o key.txt 2>/dev/null && age-keygen -y key.txt > pub.txt").status, 0);
    }
    void TearDown() override {
        if (!dir.empty()) fs::remove_all(dir);
    }
    testing_cli::TRun Run(const std::string& script) {
        return RunShell(dir, "export KESTRUNE_PASSWORD=legacy PTY='" KESTRUNE_TEST_SOURCE_DIR "/age_pty.py'; " + script);
    }
    // What the directory holds besides the keys, the captures and keep.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            if (name != "key.txt" && name != "pub.txt" && name != ".out" && name != ".err" && !name.starts_with("in"))
                names.push_back(name);
        }
        return names;
    }
    fs::path dir;
};

TEST_F(AgeTool, UpgradedFilesDecryptWithAgeAndAgeFilesWithOurs) {
    const auto run = Run(R"sh(set -e
        for n in 0 1 65536 65537 1048583; do
            head -c $n /dev/urandom > p
            $K encrypt-file p e --cipher rc6 --hash sha256 --mode ctr -q
            $K upgrade e u.age --cipher rc6 --hash sha256 --mode ctr -R pub.txt
            age -d -i key.txt u.age | cmp - p
            $K upgrade - - -a --cipher rc6 --hash sha256 --mode ctr -r "$(cat pub.txt)" < e > u.txt
            [ "$(head -1 u.txt)" = '-----BEGIN AGE ENCRYPTED FILE-----' ]
            age -d -i key.txt u.txt | cmp - p
            age -e -r "$(cat pub.txt)" -o g.age p
            $K age-decrypt -i key.txt g.age d && cmp d p
            age -e -a -r "$(cat pub.txt)" p | $K age-decrypt -i key.txt - - | cmp - p
            echo $n
        done)sh");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "0\n1\n65536\n65537\n1048583\n");
}

TEST_F(AgeTool, UpgradedStringsDecryptToTheirUtf8Text) {
    const auto run = Run(R"sh(set -e
        v=$($K encrypt-string 'Grüße, 10 €' --cipher des --hash sha1)
        $K upgrade --text "$v" --cipher des --hash sha1 -R pub.txt > s.txt
        age -d -i key.txt s.txt)sh");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Grüße, 10 €");
}

TEST_F(AgeTool, PassphrasesWorkBothWaysThroughATerminal) {
    const auto run = Run(R"sh(set -e
        printf 'horse battery' > phrase; head -c 70000 /dev/urandom > p
        $K encrypt-file p e -q
        $K upgrade e u.age --passphrase-file phrase --work-factor 10
        grep -qa '^-> scrypt [^ ]* 10$' u.age
        python3 "$PTY" 'horse battery' age -d -o d u.age > /dev/null && cmp d p
        python3 "$PTY" 'horse battery' age -e -p -o g.age p > /dev/null
        PHRASE='horse battery' $K age-decrypt --passphrase-env PHRASE g.age - | cmp - p
        ! PHRASE=wrong $K age-decrypt --passphrase-env PHRASE g.age x 2> wrong.err
        cat wrong.err)sh");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("wrong passphrase"), std::string::npos) << run.out;
}

TEST_F(AgeTool, RecipientsComeOnlyFromTheirOwnOptions) {
    const std::pair<const char*, const char*> cases[] = {
        // the legacy password (KESTRUNE_PASSWORD here) never becomes the passphrase
        {"$K upgrade --text AAAA", "no age recipient"},
        {"$K upgrade --text AAAA -R pub.txt --passphrase-env KESTRUNE_PASSWORD", "only recipient"},
        {"$K upgrade --text AAAA -r age1qqqq", "not an age public key"},
        {"echo '# none' > none.txt; $K upgrade --text AAAA -R none.txt", "holds no recipients"},
        {"$K upgrade --text 'AA A' -R pub.txt", "not Base64"},
        {"age-keygen -o other.txt 2>/dev/null; age -e -R pub.txt -o in.age pub.txt; $K age-decrypt -i other.txt in.age x",
         "no identity matches"},
    };
    for (const auto& [script, message] : cases) {
        const auto run = Run(script);
        EXPECT_NE(run.status, 0) << script;
        EXPECT_NE(run.err.find(message), std::string::npos) << script << ": " << run.err;
    }
}

TEST_F(AgeTool, FailedUpgradesLeaveTheDestinationAsItWas) {
    const std::pair<const char*, const char*> cases[] = {
        {"$K upgrade missing.enc keep -R pub.txt", "cannot read 'missing.enc'"},
        {"$K upgrade keep keep -R pub.txt", "are the same file"},
        {"head -c 70000 /dev/zero > in.enc; $K upgrade in.enc keep -R pub.txt --cipher rc4 --password ''", "empty"},
    };
    for (const auto& [script, message] : cases) {
        std::ofstream(dir / "keep") << "kept";
        const auto run = Run(script);
        EXPECT_EQ(run.status, 1) << script;
        EXPECT_NE(run.err.find(message), std::string::npos) << script << ": " << run.err;
        EXPECT_EQ(Slurp(dir / "keep"), "kept") << script;
        EXPECT_EQ(Leftovers(), std::vector<std::string>{"keep"}) << script;
    }
}

TEST_F(AgeTool, DamagedFilesAreRefusedWithoutOutput) {
    ASSERT_EQ(Run("head -c 200000 /dev/urandom > in.plain && age -e -R pub.txt -o in.age in.plain").status, 0);
    const std::string good = Slurp(dir / "in.age");
    const std::size_t macLine = good.find("\n--- ") + 1, payload = good.find('\n', macLine) + 1;
    const auto flip = [&](std::size_t at) {
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ 0x01);
        return bad;
    };
    // Another Base64 letter, so that the text stays well-formed.
    const auto retype = [&](std::size_t at) {
        std::string bad = good;
        bad[at] = bad[at] == 'A' ? 'B' : 'A';
        return bad;
    };
    const std::pair<std::string, const char*> cases[] = {
        {flip(3), "not an age file"},
        {flip(good.find("X25519") + 2), "no identity matches"},  // a stanza type of another tool
        {retype(macLine + 10), "MAC does not match"},
        {flip(payload + 16 + 1000), "corrupted (chunk 0"},
        {flip(good.size() - 1), "truncated or corrupted"},
        {good.substr(0, payload - 20), "inside the header"},
        {good.substr(0, payload + 8), "before its payload"},
        {good.substr(0, payload + 16 + 65536 + 16), "truncated or corrupted"},  // cut at a chunk's end
        {good.substr(0, good.size() - 1), "truncated or corrupted"},
        {good + "x", "truncated or corrupted"},
        {std::string(), "empty"},
    };
    for (const auto& [bytes, message] : cases) {
        SCOPED_TRACE(message);
        std::ofstream(dir / "in.bad", std::ios::binary) << bytes;
        std::ofstream(dir / "keep") << "kept";
        const auto toFile = Run("$K age-decrypt -i key.txt in.bad keep");
        EXPECT_EQ(toFile.status, 1);
        EXPECT_NE(toFile.err.find(message), std::string::npos) << toFile.err;
        EXPECT_EQ(Slurp(dir / "keep"), "kept");
        EXPECT_EQ(Leftovers(), std::vector<std::string>{"keep"});
        const auto toOutput = Run("$K age-decrypt -i key.txt in.bad -");
        EXPECT_EQ(toOutput.status, 1);
        EXPECT_EQ(toOutput.out, "") << message;
    }
}

// Past the 64 MiB held back, standard output gets only authenticated
// chunks, and a failure says how much of the plaintext went out.
TEST_F(AgeTool, LargeOutputsOnStandardOutputSayWhatWentOut) {
    const auto run = Run(R"sh(set -e
        head -c $((65 * 1024 * 1024 + 100)) /dev/urandom > in.plain
        age -e -R pub.txt in.plain | head -c -1 > in.age
        ! $K age-decrypt -i key.txt in.age - > in.out
        cmp in.out in.plain 2>&1 | grep -q 'EOF on in.out'
        stat -c %s in.out)sh");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string written = std::to_string(1040 * 65536);  // every chunk but the damaged last one
    EXPECT_EQ(run.out, written + "\n");
    EXPECT_NE(run.err.find("the " + written + " bytes already written are only the start"), std::string::npos) << run.err;
}

TEST_F(AgeTool, BatchUpgradesValuesAndFilesOneAnswerEach) {
    ASSERT_EQ(Run(R"sh(set -e
        a=$($K encrypt-string 'first row'); b=$($K encrypt-string 'second row' --cipher twofish --hash sha512)
        printf 'file bytes' > plain; $K encrypt-file plain in.enc --mode ofb -q
        printf '{"id": 1, "value": "%s"}\n\n{"id": "b", "value": "%s", "cipher": "twofish", "hash": "sha512"}\n' "$a" "$b" > in.jsonl
        printf '{"id": 3, "source": "in.enc", "dest": "out.age", "mode": "ofb"}\n{"id": 4, "value": "%s", "cipher": "nope"}\nnot json\n' "$a" >> in.jsonl
        ! $K upgrade --batch in.jsonl -R pub.txt)sh").status, 0);
    std::istringstream answers(Slurp(dir / ".out"));
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(answers, line);) lines.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(lines.size(), 5u);
    const std::pair<nlohmann::json, std::string> expected[] = {{1, "first row"}, {"b", "second row"}};
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(lines[i]["id"], expected[i].first);
        std::ofstream(dir / "in.txt") << lines[i]["result"].get<std::string>();
        EXPECT_EQ(Run("age -d -i key.txt in.txt").out, expected[i].second);
    }
    EXPECT_EQ(lines[2]["result"], "out.age");
    EXPECT_EQ(Run("age -d -i key.txt out.age").out, "file bytes");
    EXPECT_NE(lines[3]["error"].get<std::string>().find("unknown cipher"), std::string::npos);
    EXPECT_TRUE(lines[4].contains("error"));
}

}  // namespace
}  // namespace kestrune::cli::age
