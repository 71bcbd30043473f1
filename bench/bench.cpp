// The throughput table on Google Benchmark: every digest and every cipher
// in every mode at several sizes is a row, and each row registers one
// benchmark for ours and one per reference library that has the same
// algorithm and gives the same bytes. Each counts bytes processed and is
// timed in this thread's processor time, in turns with the other
// candidates of its row so that a busy machine slows them alike. A
// reporter collects the median of each and prints the row with our ratio
// to the fastest reference, all measured in the same run.
//
//   kestrune_bench                 the whole table
//   kestrune_bench --quick         the small sizes only, shorter timings
//   kestrune_bench --filter TEXT   rows whose name matches TEXT, a regular
//                                  expression with spaces for slashes
//   kestrune_bench --files [DIR]   the files path against memory, and its
//                                  peak size for 1 GiB and 4 GiB (in DIR)
// Any --benchmark_* flag goes to Google Benchmark and wins over these
// defaults (--benchmark_out=FILE keeps every run as JSON, for instance),
// but --benchmark_repetitions=N, which sets the turns of every row (5 with
// --quick, else 7).
#include <benchmark/benchmark.h>
#include <gcrypt.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/references.h"
#include "ciphers/KCblowfish.h"
#include "ciphers/KCcast128.h"
#include "ciphers/KCcast256.h"
#include "ciphers/KCdes.h"
#include "ciphers/KCice.h"
#include "ciphers/KCidea.h"
#include "ciphers/KCmars.h"
#include "ciphers/KCmisty1.h"
#include "ciphers/KCrc2.h"
#include "ciphers/KCrc4.h"
#include "ciphers/KCrc5.h"
#include "ciphers/KCrc6.h"
#include "ciphers/KCrijndael.h"
#include "ciphers/KCserpent.h"
#include "ciphers/KCtea.h"
#include "ciphers/KCtwofish.h"
#include "ciphers/KCxtea.h"
#include "hashes/KChaval.h"
#include "hashes/KCmd4.h"
#include "hashes/KCmd5.h"
#include "hashes/KCripemd128.h"
#include "hashes/KCripemd160.h"
#include "hashes/KCsha1.h"
#include "hashes/KCsha256.h"
#include "hashes/KCsha512.h"
#include "hashes/KCtiger.h"
#include "object/KCcatalogue.h"
#include "object/KCcodepage.h"
#include "object/UKestrune.h"

namespace {

using namespace kestrune;
using bench::CipherNames;
using bench::CipherOp;
using bench::DigestNames;
using bench::DigestOp;
using bench::Mode;

constexpr const char* Libraries[] = {"openssl", "gcrypt", "botan", "crypto++"};
constexpr std::size_t LibraryCount = std::size(Libraries);

struct DigestRow {
    const char* label;
    const TKC_hashclass* ours;
    DigestNames names;
};

// Variants are checked byte for byte before timing, so a name here that
// means a different variant (Tiger's two paddings) only drops the reference.
const DigestRow DigestRows[] = {
    {"MD4", &HashClassOf<TKC_md4>, {"MD4", GCRY_MD_MD4, 0, "MD4", "MD4"}},
    {"MD5", &HashClassOf<TKC_md5>, {"MD5", GCRY_MD_MD5, 0, "MD5", "MD5"}},
    {"RIPEMD-128", &HashClassOf<TKC_ripemd128>, {nullptr, 0, 0, nullptr, "RIPEMD128"}},
    {"RIPEMD-160", &HashClassOf<TKC_ripemd160>, {"RIPEMD160", GCRY_MD_RMD160, 0, "RIPEMD-160", "RIPEMD160"}},
    {"SHA-1", &HashClassOf<TKC_sha1>, {"SHA1", GCRY_MD_SHA1, 0, "SHA-160", "SHA1"}},
    {"SHA-256", &HashClassOf<TKC_sha256>, {"SHA256", GCRY_MD_SHA256, 0, "SHA-256", "SHA256"}},
    {"SHA-384", &HashClassOf<TKC_sha384>, {"SHA384", GCRY_MD_SHA384, 0, "SHA-384", "SHA384"}},
    {"SHA-512", &HashClassOf<TKC_sha512>, {"SHA512", GCRY_MD_SHA512, 0, "SHA-512", "SHA512"}},
    {"HAVAL-256/5", &HashClassOf<TKC_haval>, {nullptr, 0, 0, nullptr, nullptr}},
    {"Tiger", &HashClassOf<TKC_tiger>, {nullptr, GCRY_MD_TIGER1, GCRY_MD_TIGER, "Tiger", "Tiger"}},
};

struct CipherRow {
    const char* label;
    const TKC_cipherclass* ours;
    std::uint32_t keyBits;
    CipherNames names;
};

// Key sizes as the object's password keys give them (a 128-bit digest, or
// the cipher's largest key when smaller), plus AES-256. Our RC2 is RFC 2268
// with an effective key length of 1024 bits (libgcrypt's fixes it at 128),
// our RC5 is RC5-32/12. No library has our MARS (the first-round key
// expansion), our TEA and XTEA rounds, or the ICE family.
const CipherRow CipherRows[] = {
    {"AES-128", &CipherClassOf<TKC_rijndael>, 128, {"AES-128", GCRY_CIPHER_AES, "AES-128", "AES"}},
    {"AES-256", &CipherClassOf<TKC_rijndael>, 256, {"AES-256", GCRY_CIPHER_AES256, "AES-256", "AES"}},
    {"Twofish", &CipherClassOf<TKC_twofish>, 128, {nullptr, GCRY_CIPHER_TWOFISH128, "Twofish", "Twofish"}},
    {"Serpent", &CipherClassOf<TKC_serpent>, 128, {nullptr, GCRY_CIPHER_SERPENT128, "Serpent", "Serpent"}},
    {"MARS", &CipherClassOf<TKC_mars>, 128, {nullptr, 0, nullptr, nullptr}},
    {"RC6", &CipherClassOf<TKC_rc6>, 128, {nullptr, 0, nullptr, "RC6"}},
    {"CAST-256", &CipherClassOf<TKC_cast256>, 128, {nullptr, 0, "CAST-256", "CAST256"}},
    {"Blowfish", &CipherClassOf<TKC_blowfish>, 128, {"BF", GCRY_CIPHER_BLOWFISH, "Blowfish", "Blowfish"}},
    {"CAST-128", &CipherClassOf<TKC_cast128>, 128, {"CAST5", GCRY_CIPHER_CAST5, "CAST-128", "CAST128"}},
    {"DES", &CipherClassOf<TKC_des>, 64, {"DES", GCRY_CIPHER_DES, "DES", "DES"}},
    {"3DES", &CipherClassOf<TKC_3des>, 192, {"DES-EDE3", GCRY_CIPHER_3DES, "TripleDES", "DES_EDE3"}},
    {"IDEA", &CipherClassOf<TKC_idea>, 128, {"IDEA", GCRY_CIPHER_IDEA, "IDEA", "IDEA"}},
    {"MISTY1", &CipherClassOf<TKC_misty1>, 128, {nullptr, 0, "MISTY1", nullptr}},
    {"RC2", &CipherClassOf<TKC_rc2>, 128, {"RC2", 0, nullptr, "RC2", 0, 1024}},
    {"RC5", &CipherClassOf<TKC_rc5>, 128, {"RC5", 0, nullptr, "RC5", 12}},
    {"TEA", &CipherClassOf<TKC_tea>, 128, {nullptr, 0, nullptr, nullptr}},
    {"XTEA", &CipherClassOf<TKC_xtea>, 128, {nullptr, 0, nullptr, nullptr}},
    {"ICE", &CipherClassOf<TKC_ice>, 64, {nullptr, 0, nullptr, nullptr}},
    {"Thin-ICE", &CipherClassOf<TKC_thinice>, 64, {nullptr, 0, nullptr, nullptr}},
    {"ICE-2", &CipherClassOf<TKC_ice2>, 128, {nullptr, 0, nullptr, nullptr}},
};

const CipherRow Rc4Row = {"RC4", &CipherClassOf<TKC_rc4>, 128, {"RC4", GCRY_CIPHER_ARCFOUR, "RC4", "ARC4"}};

struct ModeWay {
    const char* label;
    Mode mode;
    bool decrypting;
};

const ModeWay ModeWays[] = {
    {"CBC-enc", Mode::CBC, false},      {"CBC-dec", Mode::CBC, true},       {"CFB8-enc", Mode::CFB8, false},
    {"CFB8-dec", Mode::CFB8, true},     {"CFB-enc", Mode::CFBblock, false}, {"CFB-dec", Mode::CFBblock, true},
    {"OFB", Mode::OFB, false},          {"CTR", Mode::CTR, false},
};

TKC_ciphermode OurMode(Mode m) {
    switch (m) {
    case Mode::CBC: return TKC_ciphermode::cmCBC;
    case Mode::CFB8: return TKC_ciphermode::cmCFB8bit;
    case Mode::CFBblock: return TKC_ciphermode::cmCFBblock;
    case Mode::OFB: return TKC_ciphermode::cmOFB;
    default: return TKC_ciphermode::cmCTR;
    }
}

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    return v;
}

std::string SizeLabel(std::size_t n) {
    if (n >= 1 << 20) return std::to_string(n >> 20) + "MiB";
    if (n >= 1024) return std::to_string(n >> 10) + "KiB";
    return std::to_string(n) + "B";
}

// What the table knows of a row before it runs: the path ours takes, and
// per library whether it is timed, differs ("neq") or lacks the algorithm.
struct RowInfo {
    std::string path;
    bool calls = false;  // calls per second rather than bytes
    enum class Ref { Absent, Timed, Differs };
    std::array<Ref, LibraryCount> refs{};
};

// Rows in the order registered, by benchmark name less the candidate.
struct Registry {
    std::vector<std::string> order;
    std::map<std::string, RowInfo> rows;

    RowInfo& Add(const std::string& row) {
        order.push_back(row);
        return rows[row];
    }
};

// Registers one candidate of a row: run() processes bytes per call, or is
// counted as one call where bytes is 0.
#if defined(__x86_64__) || defined(__i386__)
// Every candidate's call starts with the upper halves of the vector
// registers clear, as compiled code leaves them at a call. Some candidate
// in the table returns with them in use, and until they are cleared the
// next candidate's SSE instructions wait on them: measured, our serial
// Serpent ran at 58-72 MiB/s interleaved with the references and at 99
// alone.
__attribute__((target("avx"))) void ClearUpperVectorsAvx() noexcept { _mm256_zeroupper(); }
// Asked at start-up, before main: the processor's answers are loaded first.
const bool HasAvx = (__builtin_cpu_init(), __builtin_cpu_supports("avx"));
void ClearUpperVectors() noexcept {
    if (HasAvx) ClearUpperVectorsAvx();
}
#else
void ClearUpperVectors() noexcept {}
#endif

struct Candidate {
    std::string row;
    const char* name;
    std::size_t bytes;
    std::function<void()> run;
};
std::vector<Candidate> Candidates;  // in the order registered, until RegisterInTurns

void Register(const std::string& row, const char* candidate, std::size_t bytes, std::function<void()> run) {
    Candidates.push_back({row, candidate, bytes, std::move(run)});
}

// Hands every candidate to Google Benchmark, turns times, a row at a time:
// the candidates of a row take turns, all of the row's turns together. The
// speed of a shared host drifts over minutes, so candidates measured within
// the same second or two are slowed alike; spread over the whole run in
// random turns, the candidates of one row were measured minutes apart.
void RegisterInTurns(const Registry& registry, int turns) {
    std::map<std::string, std::vector<const Candidate*>> byRow;
    for (const Candidate& c : Candidates) byRow[c.row].push_back(&c);
    for (const auto& row : registry.order)
        for (int turn = 0; turn < turns; ++turn)
            for (const Candidate* c : byRow[row])
                benchmark::RegisterBenchmark((row + "/" + c->name).c_str(), [c](benchmark::State& state) {
                    for (auto _ : state) {
                        ClearUpperVectors();
                        c->run();
                    }
                    const auto n = static_cast<std::int64_t>(state.iterations());
                    if (c->bytes == 0) state.SetItemsProcessed(n);
                    else state.SetBytesProcessed(n * static_cast<std::int64_t>(c->bytes));
                });
}

// Inputs shared by every benchmark of a size, so that the whole table does
// not hold a buffer per row; ciphers transform theirs in place, again and again.
std::vector<std::uint8_t>& SharedBuffer(std::size_t n, std::uint32_t seed) {
    static std::map<std::pair<std::size_t, std::uint32_t>, std::vector<std::uint8_t>> buffers;
    auto& b = buffers[{n, seed}];
    if (b.empty()) b = Pattern(n, seed);
    return b;
}

void RegisterDigests(const std::vector<std::size_t>& sizes, Registry& registry) {
    for (const auto& row : DigestRows) {
        for (const std::size_t n : sizes) {
            const std::string name = std::string(row.label) + "/" + SizeLabel(n);
            const auto& data = SharedBuffer(n, 1);
            auto hash = std::shared_ptr<TKC_hash>(row.ours->Create());
            auto digest = std::make_shared<std::vector<std::uint8_t>>(64);
            auto ours = [hash, digest, &data] {
                hash->Init();
                hash->Update(data);
                hash->Final(*digest);
            };
            ours();
            const std::vector<std::uint8_t> expected(digest->begin(), digest->begin() + hash->DigestBytes());
            RowInfo& info = registry.Add(name);
            info.path = hash->Provider();
            Register(name, "ours", n, ours);
            const auto consider = [&](std::size_t lib, DigestOp op) {
                if (!op || info.refs[lib] == RowInfo::Ref::Timed) return;
                std::vector<std::uint8_t> theirs(64);
                op(data.data(), n, theirs.data());
                if (!std::equal(expected.begin(), expected.end(), theirs.begin())) {
                    info.refs[lib] = RowInfo::Ref::Differs;
                    return;
                }
                info.refs[lib] = RowInfo::Ref::Timed;
                Register(name, Libraries[lib], n, [op, &data, n, digest] { op(data.data(), n, digest->data()); });
            };
            consider(0, bench::OpenSslDigest(row.names));
            consider(1, bench::GcryptDigest(row.names.gcrypt));
            if (info.refs[1] == RowInfo::Ref::Differs) consider(1, bench::GcryptDigest(row.names.gcryptOther));
            consider(2, bench::BotanDigest(row.names));
            consider(3, bench::CryptoppDigest(row.names));
        }
    }
}

using Maker = bench::CipherHandle (*)(const CipherNames&, const bench::CipherRequest&);
const Maker Makers[] = {&bench::OpenSslCipher, &bench::GcryptCipher, &bench::BotanCipher, &bench::CryptoppCipher};

// Our cipher keyed as the references are.
std::shared_ptr<TKC_cipher> OurCipher(const CipherRow& row, const ModeWay& way, ConstBytes key, ConstBytes iv) {
    std::shared_ptr<TKC_cipher> cipher = row.ours->Create();
    if (auto* block = dynamic_cast<TKC_blockcipher*>(cipher.get())) block->CipherMode = OurMode(way.mode);
    cipher->Init(key, row.keyBits, iv);
    return cipher;
}

void RegisterCiphers(const std::vector<std::size_t>& sizes, Registry& registry) {
    const auto key = Pattern(32, 2);
    std::vector<std::pair<const CipherRow*, ModeWay>> rows;
    for (const auto& row : CipherRows)
        for (const auto& way : ModeWays) rows.emplace_back(&row, way);
    rows.emplace_back(&Rc4Row, ModeWay{"stream", Mode::Stream, false});
    for (const auto& [row, way] : rows) {
        const std::size_t blockBytes = row->ours->GetBlockSize() > 0 ? row->ours->GetBlockSize() / 8 : 0;
        const auto iv = Pattern(blockBytes, 3);
        const ConstBytes rowKey = ConstBytes(key).first(row->keyBits / 8);
        const bench::CipherRequest request{way.mode, way.decrypting, rowKey, iv};
        const auto oursOp = [decrypting = way.decrypting](const std::shared_ptr<TKC_cipher>& c) -> CipherOp {
            return [c, decrypting](std::uint8_t* d, std::size_t len) {
                decrypting ? c->Decrypt(ConstBytes(d, len), Bytes(d, len)) : c->Encrypt(ConstBytes(d, len), Bytes(d, len));
            };
        };
        // Byte check: 4 KiB in two calls, so that the chaining state must
        // carry over too; our RC4 restarts its indices at every call (each
        // call alone is standard RC4), so it is checked in one.
        const auto sample = Pattern(4096, 4);
        const std::size_t firstCall = way.mode == Mode::Stream ? sample.size() : 2048;
        const auto transform = [&](const CipherOp& op) {
            std::vector<std::uint8_t> out = sample;
            op(out.data(), firstCall);
            op(out.data() + firstCall, sample.size() - firstCall);
            return out;
        };
        const auto expected = transform(oursOp(OurCipher(*row, way, rowKey, iv)));
        std::array<RowInfo::Ref, LibraryCount> refs{};
        for (std::size_t lib = 0; lib < LibraryCount; ++lib) {
            if (!Makers[lib](row->names, request)) continue;
            refs[lib] = transform(Makers[lib](row->names, request).run) == expected ? RowInfo::Ref::Timed
                                                                                   : RowInfo::Ref::Differs;
        }
        for (const std::size_t n : sizes) {
            const std::string name = std::string(row->label) + "/" + way.label + "/" + SizeLabel(n);
            auto& data = SharedBuffer(n, 5);
            const auto ours = OurCipher(*row, way, rowKey, iv);
            RowInfo& info = registry.Add(name);
            info.path = ours->Provider();
            info.refs = refs;
            Register(name, "ours", n, [op = oursOp(ours), &data, n] { op(data.data(), n); });
            for (std::size_t lib = 0; lib < LibraryCount; ++lib)
                if (refs[lib] == RowInfo::Ref::Timed)
                    Register(name, Libraries[lib], n,
                             [op = Makers[lib](row->names, request).run, &data, n] { op(data.data(), n); });
        }
    }
}

// Key set-up: a new key (and IV) on a cipher that exists, calls per second.
// The references rekey a CBC context (RC4 its stream), checked on 64 bytes.
void RegisterKeySetups(Registry& registry) {
    const auto key = Pattern(32, 6);
    const auto sample = Pattern(64, 7);
    std::vector<const CipherRow*> rows;
    for (const auto& row : CipherRows) rows.push_back(&row);
    rows.push_back(&Rc4Row);
    for (const CipherRow* row : rows) {
        const bool stream = row->ours->GetBlockSize() < 0;
        const ModeWay way{"key", stream ? Mode::Stream : Mode::CBC, false};
        const auto iv = Pattern(stream ? 0 : static_cast<std::size_t>(row->ours->GetBlockSize()) / 8, 8);
        const ConstBytes rowKey = ConstBytes(key).first(row->keyBits / 8);
        const auto ours = OurCipher(*row, way, rowKey, iv);
        std::vector<std::uint8_t> expected = sample;
        ours->Encrypt(expected, expected);
        const std::string name = std::string(row->label) + "/key-setup";
        RowInfo& info = registry.Add(name);
        info.path = ours->Provider();
        info.calls = true;
        const std::vector<std::uint8_t> keyCopy(rowKey.begin(), rowKey.end());
        Register(name, "ours", 0, [ours, keyCopy, iv, bits = row->keyBits] { ours->Init(keyCopy, bits, iv); });
        for (std::size_t lib = 0; lib < LibraryCount; ++lib) {
            auto handle = Makers[lib](row->names, {way.mode, false, rowKey, iv});
            if (!handle) continue;
            handle.rekey(rowKey, iv);
            std::vector<std::uint8_t> theirs = sample;
            handle.run(theirs.data(), theirs.size());
            info.refs[lib] = theirs == expected ? RowInfo::Ref::Timed : RowInfo::Ref::Differs;
            if (info.refs[lib] == RowInfo::Ref::Timed)
                Register(name, Libraries[lib], 0, [rekey = handle.rekey, keyCopy, iv] { rekey(keyCopy, iv); });
        }
    }
}

// The object's string members per call: the text converted, the password
// digested, the key set, a zero block encrypted for the IV, CFB-8, Base64.
// Each reference does the same steps with its own digest and cipher (and
// OpenSSL's Base64); as its API ties a key schedule to a mode, it keys an
// ECB-like context for the IV and a CFB-8 one for the text.
struct StringSteps {
    DigestOp digest;
    bench::CipherHandle first;  // the IV block (CBC from a zero IV)
    bench::CipherHandle text;   // CFB-8, or the stream
    std::size_t digestBytes;
    std::size_t keyBytes;
    std::size_t blockBytes;

    std::string operator()(std::string_view password, std::string input, bool decrypting) const {
        std::array<std::uint8_t, 64> digested{};
        digest(reinterpret_cast<const std::uint8_t*>(password.data()), password.size(), digested.data());
        const ConstBytes key = ConstBytes(digested).first(keyBytes);
        std::array<std::uint8_t, 16> iv{};
        if (blockBytes) {
            first.rekey(key, ConstBytes(iv).first(blockBytes));
            first.run(iv.data(), blockBytes);
        }
        text.rekey(key, ConstBytes(iv).first(blockBytes));
        std::string bytes = decrypting ? DecodeBase64String(input) : std::move(input);
        text.run(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
        return decrypting ? bytes : bench::Base64({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    }
};

std::int32_t ObjectCode(const TKC_cipherclass* c) {
    for (std::int32_t code = 0;; ++code)
        if (&CipherClassFor(code) == c) return code;
}

std::int32_t ObjectCode(const TKC_hashclass* h) {
    for (std::int32_t code = 0;; ++code)
        if (&DigestClassFor(code) == h) return code;
}

std::string Printable(std::size_t n) {
    std::string text = "The object's text, ";
    while (text.size() < n) text += static_cast<char>('a' + text.size() % 26);
    text.resize(n);
    return text;
}

void RegisterPerCall(const std::vector<std::size_t>& sizes, Registry& registry) {
    static constexpr std::string_view Password = "correct horse battery staple";
    const std::u16string password16 = Utf8ToUtf16(Password);
    for (const auto& digestRow : DigestRows) {
        for (const std::size_t n : sizes) {
            const std::string name = "HashString/" + std::string(digestRow.label) + "/" + SizeLabel(n);
            auto object = std::make_shared<TKestrune>();
            const std::int32_t code = ObjectCode(digestRow.ours);
            const auto text = std::make_shared<const std::u16string>(Utf8ToUtf16(Printable(n)));
            const std::string expected = Utf16ToUtf8(object->HashString(*text, code));
            RowInfo& info = registry.Add(name);
            info.calls = true;
            info.path = digestRow.ours->Create()->Provider();
            Register(name, "ours", 0, [object, text, code] { benchmark::DoNotOptimize(object->HashString(*text, code)); });
            const std::size_t bytes = static_cast<std::size_t>(digestRow.ours->GetHashSize()) / 8;
            const DigestOp ops[] = {bench::OpenSslDigest(digestRow.names), bench::GcryptDigest(digestRow.names.gcrypt),
                                    bench::BotanDigest(digestRow.names), bench::CryptoppDigest(digestRow.names)};
            for (std::size_t lib = 0; lib < LibraryCount; ++lib) {
                if (!ops[lib]) continue;
                const auto step = [op = ops[lib], bytes, plain = Printable(n)] {
                    static constexpr char Digits[] = "0123456789ABCDEF";
                    std::array<std::uint8_t, 64> digest{};
                    op(reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size(), digest.data());
                    std::string hex(2 * bytes, '0');
                    for (std::size_t i = 0; i < bytes; ++i) {
                        hex[2 * i] = Digits[digest[i] >> 4];
                        hex[2 * i + 1] = Digits[digest[i] & 15];
                    }
                    return hex;
                };
                info.refs[lib] = step() == expected ? RowInfo::Ref::Timed : RowInfo::Ref::Differs;
                if (info.refs[lib] == RowInfo::Ref::Timed)
                    Register(name, Libraries[lib], 0, [step] { benchmark::DoNotOptimize(step()); });
            }
        }
    }
    std::vector<const CipherRow*> ciphers;
    for (const auto& row : CipherRows)
        if (row.keyBits != 256 || row.ours != &CipherClassOf<TKC_rijndael>) ciphers.push_back(&row);
    ciphers.push_back(&Rc4Row);
    const DigestRow* keyDigests[] = {&DigestRows[1], &DigestRows[5]};  // MD5, SHA-256
    for (const bool decrypting : {false, true}) {
        for (const CipherRow* row : ciphers) {
            for (const DigestRow* digestRow : keyDigests) {
                const auto digestBits = static_cast<std::uint32_t>(digestRow->ours->GetHashSize());
                const auto keyBits = std::min(static_cast<std::uint32_t>(row->ours->GetMaxKeySize()), digestBits);
                // The reference names of the key size (AES-256 has a row of its own).
                const CipherRow* named = row;
                for (const auto& other : CipherRows)
                    if (other.ours == row->ours && other.keyBits == keyBits) named = &other;
                const bool stream = row->ours->GetBlockSize() < 0;
                const std::size_t blockBytes = stream ? 0 : static_cast<std::size_t>(row->ours->GetBlockSize()) / 8;
                auto object = std::make_shared<TKestrune>();
                object->SetCipherAlgorithm(ObjectCode(row->ours));
                object->SetHashAlgorithm(ObjectCode(digestRow->ours));
                for (const std::size_t n : sizes) {
                    const std::string plain = Printable(n);
                    const std::string cipherText = Utf16ToUtf8(object->EncryptString(Utf8ToUtf16(plain), password16));
                    const std::string input = decrypting ? cipherText : plain;
                    const std::string expected = decrypting ? plain : cipherText;
                    const std::string name = std::string(decrypting ? "DecryptString/" : "EncryptString/") + row->label +
                                             "/" + digestRow->label + "/" + SizeLabel(n);
                    RowInfo& info = registry.Add(name);
                    info.calls = true;
                    info.path = row->ours->Create()->Provider();
                    const auto input16 = std::make_shared<const std::u16string>(Utf8ToUtf16(input));
                    Register(name, "ours", 0, [object, input16, password16, decrypting] {
                        benchmark::DoNotOptimize(decrypting ? object->DecryptString(*input16, password16)
                                                            : object->EncryptString(*input16, password16));
                    });
                    const DigestOp digests[] = {bench::OpenSslDigest(digestRow->names),
                                                bench::GcryptDigest(digestRow->names.gcrypt),
                                                bench::BotanDigest(digestRow->names),
                                                bench::CryptoppDigest(digestRow->names)};
                    const std::vector<std::uint8_t> zero(32, 0);
                    const ConstBytes anyKey = ConstBytes(zero).first(keyBits / 8);
                    const ConstBytes zeroIv = ConstBytes(zero).first(blockBytes);
                    for (std::size_t lib = 0; lib < LibraryCount; ++lib) {
                        const StringSteps steps{
                            digests[lib],
                            stream ? bench::CipherHandle{} : Makers[lib](named->names, {Mode::CBC, false, anyKey, zeroIv}),
                            Makers[lib](named->names, {stream ? Mode::Stream : Mode::CFB8, decrypting, anyKey, zeroIv}),
                            digestBits / 8, keyBits / 8, blockBytes};
                        if (!steps.digest || !steps.text || (!stream && !steps.first)) continue;
                        info.refs[lib] = steps(Password, input, decrypting) == expected ? RowInfo::Ref::Timed
                                                                                         : RowInfo::Ref::Differs;
                        if (info.refs[lib] == RowInfo::Ref::Timed)
                            Register(name, Libraries[lib], 0, [steps, input, decrypting] {
                                benchmark::DoNotOptimize(steps(Password, input, decrypting));
                            });
                    }
                }
            }
        }
    }
}

// Collects the median of each candidate and prints the rows at the end.
class RatioTable : public benchmark::BenchmarkReporter {
public:
    explicit RatioTable(const Registry& registry) : Rows(registry) {}

    bool ReportContext(const Context&) override {
        std::printf("Medians; neq: bytes differ from ours, not timed; ratio: ours / best\n");
        std::printf("%-36s %-9s %9s", "", "path", "ours");
        for (const char* lib : Libraries) std::printf(" %9s", lib);
        std::printf(" %9s %6s\n", "best", "ratio");
        std::fflush(stdout);
        return true;
    }

    // Each turn is a run of its own (aggregates, should repetitions be asked
    // of Google Benchmark too, are left out).
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string& name = run.run_name.function_name;
            const std::size_t slash = name.rfind('/');
            const auto rate = run.counters.find("bytes_per_second");
            Measured[name.substr(0, slash)][name.substr(slash + 1)].push_back(
                rate != run.counters.end() ? rate->second.value : run.counters.at("items_per_second").value);
        }
    }

    void Finalize() override {
        for (const auto& row : Rows.order) {
            const auto turns = Measured.find(row);
            if (turns == Measured.end()) continue;
            std::map<std::string, double> medians;
            for (auto [who, rates] : turns->second) {
                std::sort(rates.begin(), rates.end());
                const std::size_t n = rates.size();
                medians[who] = n % 2 ? rates[n / 2] : (rates[n / 2 - 1] + rates[n / 2]) / 2;
            }
            Print(row, Rows.rows.at(row), medians);
        }
        std::printf("\nRows below 1.00: %zu\n", Below.size());
        for (const auto& [label, ratio] : Below) std::printf("  %-36s %.2f\n", label.c_str(), ratio);
    }

private:
    // A candidate not measured (filtered out, failed) shows as "-".
    void Print(const std::string& row, const RowInfo& info, const std::map<std::string, double>& rates) {
        if (info.calls != CallsShown) {
            CallsShown = info.calls;
            std::printf(info.calls ? "thousands of calls per second of processor time\n"
                                   : "MiB per second of processor time\n");
        }
        const auto rate = [&](const char* who) { return rates.contains(who) ? rates.at(who) : 0.0; };
        const auto cell = [scale = info.calls ? 1e3 : double(1 << 20)](double r) {
            r > 0 ? std::printf(" %9.1f", r / scale) : std::printf(" %9s", "-");
        };
        std::string label = row;
        std::replace(label.begin(), label.end(), '/', ' ');
        const double mine = rate("ours");
        std::printf("%-36s %-9s", label.c_str(), info.path.c_str());
        cell(mine);
        double best = 0;
        for (std::size_t i = 0; i < LibraryCount; ++i) {
            if (info.refs[i] == RowInfo::Ref::Differs) {
                std::printf(" %9s", "neq");
            } else {
                best = std::max(best, rate(Libraries[i]));
                cell(rate(Libraries[i]));
            }
        }
        cell(best);
        if (best > 0 && mine > 0) {
            std::printf(" %6.2f\n", mine / best);
            if (mine / best < 1.0) Below.emplace_back(label, mine / best);
        } else {
            std::printf(" %6s\n", "-");
        }
    }

    const Registry& Rows;
    std::map<std::string, std::map<std::string, std::vector<double>>> Measured;  // row, candidate: each turn's rate
    std::vector<std::pair<std::string, double>> Below;
    std::optional<bool> CallsShown;
};

// The files path: EncryptFile and DecryptFile of a cached 1 GiB file in CBC
// and CTR against the in-memory rate of the same cipher and mode, wall time
// both, five runs each: the median, and the best, since on a shared host
// other work only ever slows a run (and the first run into a new file pays
// for the host handing the guest its pages). Then the peak resident size of
// a child process that encrypts 1 GiB and one that encrypts 4 GiB (a sparse
// source), which should be the same.
struct Seconds {
    double median;
    double best;
};

Seconds WallSeconds(const std::function<void()>& run) {
    std::array<double, 5> seconds{};
    for (double& each : seconds) {
        const auto start = std::chrono::steady_clock::now();
        run();
        each = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    std::sort(seconds.begin(), seconds.end());
    return {seconds[2], seconds[0]};
}

void WriteFile(const std::filesystem::path& path, std::uint64_t size, bool sparse) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) throw std::runtime_error("cannot create " + path.string());
    if (sparse) {
        std::fseek(file, static_cast<long>(size - 1), SEEK_SET);
        std::fputc(0, file);
    } else {
        const auto piece = Pattern(1 << 20, 9);
        for (std::uint64_t done = 0; done < size; done += piece.size()) std::fwrite(piece.data(), 1, piece.size(), file);
    }
    std::fclose(file);
}

long PeakKilobytesOfChild(const std::function<void()>& run) {
    const pid_t child = fork();
    if (child == 0) {
        run();
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return usage.ru_maxrss;
}

int RunFiles(const std::filesystem::path& dir) {
    constexpr std::uint64_t GiB = 1ull << 30;
    const auto source = dir / "kestrune-bench-source", encrypted = dir / "kestrune-bench-encrypted",
               decrypted = dir / "kestrune-bench-decrypted";
    WriteFile(source, GiB, false);
    const std::u16string password = u"correct horse battery staple";
    TKestrune object;
    object.SetCipherAlgorithm(ObjectCode(&CipherClassOf<TKC_rijndael>));
    object.SetHashAlgorithm(ObjectCode(&HashClassOf<TKC_md5>));  // AES-128
    const auto path16 = [](const std::filesystem::path& p) { return Utf8ToUtf16(p.string()); };
    std::printf("%-14s %12s %12s %6s %11s\n", "AES-128", "file MiB/s", "memory MiB/s", "ratio", "best ratio");
    auto& buffer = SharedBuffer(1 << 20, 10);
    for (const auto& [label, mode] : {std::pair{"CBC", 0}, std::pair{"CTR", 4}}) {
        object.SetCipherMode(mode);
        for (const bool decrypting : {false, true}) {
            const auto cipher = std::shared_ptr<TKC_cipher>(CipherClassOf<TKC_rijndael>.Create());
            if (auto* block = dynamic_cast<TKC_blockcipher*>(cipher.get())) block->CipherMode = TKC_ciphermode(mode);
            cipher->Init(ConstBytes(buffer).first(16), 128);
            const Seconds memory = WallSeconds([&] {
                for (int i = 0; i < 1024; ++i)
                    decrypting ? cipher->Decrypt(buffer, buffer) : cipher->Encrypt(buffer, buffer);
            });
            std::int32_t result = 0;
            const Seconds file = WallSeconds([&] {
                result |= decrypting ? object.DecryptFile(path16(encrypted), path16(decrypted), password)
                                    : object.EncryptFile(path16(source), path16(encrypted), password);
            });
            if (result != 0) {
                std::fprintf(stderr, "kestrune_bench: the file operation failed\n");
                return 1;
            }
            std::printf("%-14s %12.0f %12.0f %6.2f %11.2f\n", (std::string(label) + (decrypting ? " decrypt" : " encrypt")).c_str(),
                        1024 / file.median, 1024 / memory.median, memory.median / file.median,
                        memory.best / file.best);
        }
    }
    std::filesystem::remove(decrypted);
    const auto peak = [&](std::uint64_t size) {
        WriteFile(source, size, true);
        return PeakKilobytesOfChild([&] { object.EncryptFile(path16(source), path16(encrypted), password); });
    };
    const long one = peak(GiB), four = peak(4 * GiB);
    std::printf("peak resident size encrypting 1 GiB: %ld KiB, 4 GiB: %ld KiB\n", one, four);
    std::filesystem::remove(source);
    std::filesystem::remove(encrypted);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    for (int i = 1; i < argc; ++i) quick = quick || std::string_view(argv[i]) == "--quick";
    if (argc >= 2 && std::string_view(argv[1]) == "--files")
        return RunFiles(argc >= 3 ? argv[2] : std::filesystem::temp_directory_path());
    // Our defaults first: flags given later, the caller's, override them.
    // --benchmark_repetitions=N sets the turns, which Google Benchmark does
    // not see: it runs each registered turn once.
    std::vector<std::string> args = {argv[0], quick ? "--benchmark_min_time=0.004" : "--benchmark_min_time=0.03"};
    int turns = quick ? 5 : 7;
    static constexpr std::string_view RepetitionsFlag = "--benchmark_repetitions=";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.starts_with(RepetitionsFlag)) {
            turns = std::max(1, std::atoi(arg.c_str() + RepetitionsFlag.size()));
        } else if (arg == "--filter" && i + 1 < argc) {
            std::string filter = argv[++i];
            std::replace(filter.begin(), filter.end(), ' ', '/');
            args.push_back("--benchmark_filter=" + filter);
        } else if (arg != "--quick") {
            args.push_back(arg);
        }
    }
    std::vector<char*> pointers;
    for (auto& a : args) pointers.push_back(a.data());
    int count = static_cast<int>(pointers.size());
    benchmark::Initialize(&count, pointers.data());
    if (benchmark::ReportUnrecognizedArguments(count, pointers.data())) {
        std::fprintf(stderr, "usage: %s [--quick] [--filter TEXT] [--benchmark_...]\n", argv[0]);
        return 2;
    }

    bench::InitReferences();
    Registry registry;
    RegisterDigests(quick ? std::vector<std::size_t>{64, 1024, 8192} : std::vector<std::size_t>{64, 1024, 8192, 1 << 20},
                    registry);
    RegisterCiphers(quick ? std::vector<std::size_t>{8192} : std::vector<std::size_t>{8192, 1 << 20}, registry);
    RegisterKeySetups(registry);
    RegisterPerCall(quick ? std::vector<std::size_t>{100} : std::vector<std::size_t>{16, 100, 1024}, registry);
    RegisterInTurns(registry, turns);
    RatioTable table(registry);
    benchmark::RunSpecifiedBenchmarks(&table);
    // The candidates hold the references' contexts: free them while the
    // libraries are still there, not in static destruction.
    benchmark::ClearRegisteredBenchmarks();
    Candidates.clear();
    benchmark::Shutdown();
    return 0;
}
