// The throughput table: every digest and every cipher in every mode, ours
// next to each reference library that has the same algorithm and gives the
// same bytes, and our ratio to the fastest of them. All candidates of a row
// run in this process on one buffer, taking turns within each repetition so
// that a busy machine slows them alike; each timing counts this thread's
// processor time, and a row reports medians.
//
//   kestrune_bench            the whole table
//   kestrune_bench --quick    the small sizes only, fewer repetitions
//   kestrune_bench --filter TEXT   rows whose label contains TEXT
#include <gcrypt.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
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

namespace {

using namespace kestrune;
using bench::CipherNames;
using bench::CipherOp;
using bench::DigestNames;
using bench::DigestOp;
using bench::Mode;

constexpr const char* Libraries[] = {"openssl", "gcrypt", "botan", "crypto++"};
constexpr std::size_t LibraryCount = std::size(Libraries);

struct Settings {
    bool quick = false;
    std::string filter;
    int repetitions = 7;
    double minSeconds = 0.03;  // per timing: at least this long, at least one call
};

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

// This thread's processor time: other processes on a busy machine take
// turns on the cores, which stretches wall-clock time but not this.
double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Bytes per second of run(), which processes bytes per call.
template <typename Run>
double Rate(Run& run, std::size_t bytes, double minSeconds) {
    std::size_t calls = 0;
    const double start = ThreadSeconds();
    double elapsed = 0;
    do {
        run();
        ++calls;
        elapsed = ThreadSeconds() - start;
    } while (elapsed < minSeconds);
    return static_cast<double>(bytes) * static_cast<double>(calls) / elapsed;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::string SizeLabel(std::size_t n) {
    if (n >= 1 << 20) return std::to_string(n >> 20) + "MiB";
    if (n >= 1024) return std::to_string(n >> 10) + "KiB";
    return std::to_string(n) + "B";
}

// What one row prints: per library, a rate, "-" (not there) or "neq" (bytes differ).
struct Cell {
    std::function<void()> run;
    bool differs = false;
};

struct Report {
    std::vector<std::pair<std::string, double>> below;  // rows under 1.00
};

void PrintHeader() {
    std::printf("%-28s %-9s %9s", "MiB/s", "path", "ours");
    for (const char* lib : Libraries) std::printf(" %9s", lib);
    std::printf(" %9s %6s\n", "best", "ratio");
}

void MeasureRow(const Settings& s, const std::string& label, std::string_view path, std::size_t bytes,
                std::function<void()> ours, std::array<Cell, LibraryCount>& refs, Report& report) {
    std::vector<std::vector<double>> rates(1 + LibraryCount);
    for (int rep = 0; rep < s.repetitions; ++rep) {
        rates[0].push_back(Rate(ours, bytes, s.minSeconds));
        for (std::size_t i = 0; i < LibraryCount; ++i)
            if (refs[i].run && !refs[i].differs) rates[1 + i].push_back(Rate(refs[i].run, bytes, s.minSeconds));
    }
    constexpr double MiB = 1 << 20;
    const double mine = Median(rates[0]);
    std::printf("%-28s %-9.*s %9.1f", label.c_str(), static_cast<int>(path.size()), path.data(), mine / MiB);
    double best = 0;
    for (std::size_t i = 0; i < LibraryCount; ++i) {
        if (refs[i].differs) {
            std::printf(" %9s", "neq");
        } else if (!refs[i].run) {
            std::printf(" %9s", "-");
        } else {
            const double r = Median(rates[1 + i]);
            best = std::max(best, r);
            std::printf(" %9.1f", r / MiB);
        }
    }
    if (best > 0) {
        std::printf(" %9.1f %6.2f\n", best / MiB, mine / best);
        if (mine / best < 1.0) report.below.emplace_back(label, mine / best);
    } else {
        std::printf(" %9s %6s\n", "-", "-");
    }
    std::fflush(stdout);
}

void DigestTable(const Settings& s, Report& report) {
    std::vector<std::size_t> sizes = {64, 1024, 8192};
    if (!s.quick) sizes.push_back(1 << 20);
    for (const auto& row : DigestRows) {
        for (const std::size_t n : sizes) {
            const std::string label = std::string(row.label) + " " + SizeLabel(n);
            if (label.find(s.filter) == std::string::npos) continue;
            const auto data = Pattern(n, 1);
            auto hash = row.ours->Create();
            std::vector<std::uint8_t> digest(64), expected(hash->DigestBytes());
            const auto oursOnce = [&] {
                hash->Init();
                hash->Update(data);
                hash->Final(digest);
            };
            oursOnce();
            std::copy_n(digest.begin(), expected.size(), expected.begin());
            std::array<Cell, LibraryCount> refs;
            const auto consider = [&](std::size_t lib, DigestOp op) {
                if (!op || refs[lib].run) return;
                std::vector<std::uint8_t> theirs(64);
                op(data.data(), n, theirs.data());
                if (!std::equal(expected.begin(), expected.end(), theirs.begin())) {
                    refs[lib].differs = true;
                    return;
                }
                refs[lib] = {[op, &data, n, &digest] { op(data.data(), n, digest.data()); }, false};
            };
            consider(0, bench::OpenSslDigest(row.names));
            consider(1, bench::GcryptDigest(row.names.gcrypt));
            if (refs[1].differs) {
                refs[1].differs = false;
                consider(1, bench::GcryptDigest(row.names.gcryptOther));
            }
            consider(2, bench::BotanDigest(row.names));
            consider(3, bench::CryptoppDigest(row.names));
            MeasureRow(s, label, hash->Provider(), n, oursOnce, refs, report);
        }
    }
}

// Our cipher keyed as the references are; nullptr where the mode does not apply.
std::shared_ptr<TKC_cipher> OurCipher(const CipherRow& row, const ModeWay& way, ConstBytes key, ConstBytes iv) {
    std::shared_ptr<TKC_cipher> cipher = row.ours->Create();
    if (auto* block = dynamic_cast<TKC_blockcipher*>(cipher.get())) block->CipherMode = OurMode(way.mode);
    cipher->Init(key, row.keyBits, iv);
    return cipher;
}

void CipherTable(const Settings& s, Report& report) {
    std::vector<std::size_t> sizes = {8192};
    if (!s.quick) sizes.push_back(1 << 20);
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
        for (const std::size_t n : sizes) {
            const std::string label = std::string(row->label) + " " + way.label + " " + SizeLabel(n);
            if (label.find(s.filter) == std::string::npos) continue;
            // Byte check: 4 KiB in two calls, so that the chaining state must
            // carry over too; our RC4 restarts its indices at every call (each
            // call alone is standard RC4), so it is checked in one.
            const auto sample = Pattern(4096, 4);
            const std::size_t firstCall = way.mode == Mode::Stream ? sample.size() : 2048;
            const auto transform = [&](const auto& op) {
                std::vector<std::uint8_t> out = sample;
                op(out.data(), firstCall);
                op(out.data() + firstCall, sample.size() - firstCall);
                return out;
            };
            const auto oursOp = [decrypting = way.decrypting](const std::shared_ptr<TKC_cipher>& c) {
                return [c, decrypting](std::uint8_t* d, std::size_t len) {
                    decrypting ? c->Decrypt(ConstBytes(d, len), Bytes(d, len)) : c->Encrypt(ConstBytes(d, len), Bytes(d, len));
                };
            };
            const auto expected = transform(oursOp(OurCipher(*row, way, rowKey, iv)));
            std::vector<std::uint8_t> data = Pattern(n, 5);
            std::array<Cell, LibraryCount> refs;
            using Maker = CipherOp (*)(const CipherNames&, const bench::CipherRequest&);
            const Maker makers[] = {&bench::OpenSslCipher, &bench::GcryptCipher, &bench::BotanCipher,
                                    &bench::CryptoppCipher};
            for (std::size_t lib = 0; lib < LibraryCount; ++lib) {
                if (!makers[lib](row->names, request)) continue;
                if (transform(makers[lib](row->names, request)) != expected) {
                    refs[lib].differs = true;
                    continue;
                }
                refs[lib].run = [op = makers[lib](row->names, request), &data, n] { op(data.data(), n); };
            }
            const auto ours = OurCipher(*row, way, rowKey, iv);
            MeasureRow(s, label, ours->Provider(), n, [op = oursOp(ours), &data, n] { op(data.data(), n); }, refs,
                       report);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            s.quick = true;
            s.repetitions = 5;
            s.minSeconds = 0.004;
        } else if (arg == "--filter" && i + 1 < argc) {
            s.filter = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--quick] [--filter TEXT]\n", argv[0]);
            return 2;
        }
    }
    bench::InitReferences();
    std::printf("MiB per second of processor time, median of %d; neq: bytes differ from ours, not timed; "
                "ratio: ours / best\n",
                s.repetitions);
    Report report;
    PrintHeader();
    DigestTable(s, report);
    CipherTable(s, report);
    std::printf("\nRows below 1.00: %zu\n", report.below.size());
    for (const auto& [label, ratio] : report.below) std::printf("  %-28s %.2f\n", label.c_str(), ratio);
    return 0;
}
