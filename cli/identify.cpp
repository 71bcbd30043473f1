#include "identify.h"

#include <magic.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <stdexcept>
#include <thread>
#include <tuple>

#include <nlohmann/json.hpp>

#include "algorithms.h"
#include "commands.h"
#include "framework/KCblockciphers.h"
#include "object/KCcatalogue.h"
#include "object/KCcodepage.h"
#include "object/UKestrune.h"
#include "secret.h"

namespace kestrune::cli {
namespace {

using OrderedJson = nlohmann::ordered_json;

constexpr std::int32_t ModeCount = 5;
constexpr std::size_t PreviewCharacters = 40;
constexpr std::size_t PreviewBytes = 32;

// libmagic costs far more than a decryption, so it is asked first only
// about plaintexts whose first bytes, or whole window, show some
// structure: real headers are full of zero bytes and names, random bytes
// rarely are. A recognised type adds at most two bytes' worth of
// evidence: a type that the first byte alone decides (random bytes give
// some "DOS executable" one time in a hundred) adds one, any other two,
// however long its signature looks, since libmagic's rules often accept
// much of what follows. So a type alone never makes a candidate
// plausible; with the structure of a real header it does.
constexpr double MagicBits = 12;
constexpr std::size_t StartBytes = 16;
constexpr double StartMagicBits = 5;
constexpr std::size_t SignatureProbes[] = {1, 2};
constexpr const char* UnknownType = "application/octet-stream";
constexpr std::size_t DetailBytes = 64;  // where headers differ that share their first block

// Structure of a file's start: in each run of SegmentBytes, how unlikely
// random bytes are to hold as many zero bytes, or as many text bytes, as
// it does. Random runs reach a few bits now and then, so each run counts
// only beyond SegmentAllowanceBits; the sum over the window then grows
// with every structured run, and a wrong mode that decrypts only the
// first block correctly scores far below the right one.
constexpr std::size_t SegmentBytes = 32;
constexpr double SegmentAllowanceBits = 10;
constexpr double TextByteShare = 98.0 / 256;  // tab, line breaks and printable ASCII

bool IsTextByte(std::uint8_t b) noexcept { return b == '\t' || b == '\n' || b == '\r' || (b >= 0x20 && b < 0x7F); }

// -log2 P(at least k of n random bytes hit a set of share p), for n up to SegmentBytes.
class TTailBits {
public:
    explicit TTailBits(double p) {
        for (std::size_t n = 1; n <= SegmentBytes; ++n)
            for (std::size_t k = 0; k <= n; ++k) {
                double tail = 0;
                for (std::size_t i = k; i <= n; ++i)
                    tail += std::exp(std::lgamma(n + 1.0) - std::lgamma(i + 1.0) - std::lgamma(n - i + 1.0) +
                                     i * std::log(p) + (n - i) * std::log1p(-p));
                bits_[n][k] = -std::log2(std::min(1.0, tail));
            }
    }
    double operator()(std::size_t n, std::size_t k) const noexcept { return bits_[n][k]; }

private:
    std::array<std::array<double, SegmentBytes + 1>, SegmentBytes + 1> bits_{};
};

const TTailBits& ZeroTail() {
    static const TTailBits tail(1.0 / 256);
    return tail;
}
const TTailBits& TextTail() {
    static const TTailBits tail(TextByteShare);
    return tail;
}

double SegmentBits(ConstBytes segment) {
    const auto zeroCount = static_cast<std::size_t>(std::ranges::count(segment, std::uint8_t{0}));
    const auto textCount = static_cast<std::size_t>(std::ranges::count_if(segment, IsTextByte));
    return std::max(ZeroTail()(segment.size(), zeroCount), TextTail()(segment.size(), textCount));
}

// The same without the allowance: it still tells apart plaintexts that
// share a header and differ in a few bytes after it.
double RawStructureBits(ConstBytes data) {
    double total = 0;
    for (std::size_t at = 0; at < data.size(); at += SegmentBytes)
        total += SegmentBits(data.subspan(at, std::min(SegmentBytes, data.size() - at)));
    return total;
}

double StructureBits(ConstBytes data) {
    double total = 0;
    for (std::size_t at = 0; at < data.size(); at += SegmentBytes)
        total += std::max(0.0, SegmentBits(data.subspan(at, std::min(SegmentBytes, data.size() - at))) - SegmentAllowanceBits);
    return total;
}

// Text: each character weighs for or against "this is text" by how much
// more often it appears in text than in the code page's rendering of
// random bytes. Letters, digits and spaces count for; what is rare in text
// (symbols, accented letters) a little against; control characters, which
// text in a database almost never holds, strongly against.
struct TTextEvidence {
    double bits = 0;
    double printable = 0;
};

bool IsControl(char16_t c) noexcept {
    return (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || (c >= 0x7F && c <= 0x9F) || c == 0xFFFD ||
           (c >= 0xD800 && c <= 0xDFFF);
}

bool IsLetterBeyondAscii(char16_t c) noexcept {
    return c == 0xAA || c == 0xB5 || c == 0xBA || (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7) ||
           (c >= 0x370 && c <= 0x52F) || (c >= 0x590 && c <= 0x6FF) || (c >= 0x3040 && c <= 0x9FFF) ||
           (c >= 0xAC00 && c <= 0xD7A3);
}

double CharacterBits(char16_t c) noexcept {
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u' ') return 1.8;
    if (c == u'\t' || c == u'\n' || c == u'\r' || (c > 0x20 && c < 0x7F)) return -0.5;
    if (IsControl(c)) return -8;
    if (IsLetterBeyondAscii(c)) return -1.0;
    if ((c >= 0x2010 && c <= 0x205E) || c == 0x20AC || c == 0xA0) return -1.5;  // typographic quotes, dashes, euro
    return -4.5;
}

TTextEvidence TextEvidence(std::u16string_view text) {
    TTextEvidence evidence;
    std::size_t printable = 0;
    for (char16_t c : text) {
        evidence.bits += CharacterBits(c);
        if (!IsControl(c)) ++printable;
    }
    evidence.printable = text.empty() ? 0 : static_cast<double>(printable) / static_cast<double>(text.size());
    return evidence;
}

void AppendHex(std::string& out, unsigned value, int digits) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%0*X", digits, value);
    out += hex;
}

// Characters that a terminal would act on, or that would hide or reorder
// what follows (bidirectional controls, zero-width marks), are escaped.
bool NeedsEscape(char16_t c) noexcept {
    return IsControl(c) || c == u'\t' || c == u'\n' || c == u'\r' || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

std::string TextPreview(std::u16string_view text) {
    std::string out;
    std::size_t shown = 0;
    for (std::size_t i = 0; i < text.size() && shown < PreviewCharacters; ++i, ++shown) {
        const char16_t c = text[i];
        if (c == u'\\') {
            out += "\\\\";
        } else if (c == u'\n') {
            out += "\\n";
        } else if (c == u'\r') {
            out += "\\r";
        } else if (c == u'\t') {
            out += "\\t";
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            out += Utf16ToUtf8(text.substr(i, 2));
            ++i;
        } else if (NeedsEscape(c)) {
            out += c <= 0xFF ? "\\x" : "\\u";
            AppendHex(out, c, c <= 0xFF ? 2 : 4);
        } else {
            out += Utf16ToUtf8(text.substr(i, 1));
        }
    }
    if (shown < text.size()) out += "...";
    return out;
}

std::string BytePreview(ConstBytes bytes) {
    std::string out;
    const std::size_t shown = std::min(bytes.size(), PreviewBytes);
    for (std::size_t i = 0; i < shown; ++i) {
        const std::uint8_t b = bytes[i];
        if (b == '\\')
            out += "\\\\";
        else if (b == '\n')
            out += "\\n";
        else if (b == '\r')
            out += "\\r";
        else if (b == '\t')
            out += "\\t";
        else if (b >= 0x20 && b < 0x7F)
            out += static_cast<char>(b);
        else {
            out += "\\x";
            AppendHex(out, b, 2);
        }
    }
    if (shown < bytes.size()) out += "...";
    return out;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// One libmagic instance per thread, since a cookie may not be shared.
// Loading the database costs more than a whole search of a short value,
// so loaded instances are kept for the next search.
class TMagic {
public:
    TMagic() : cookie_(magic_open(MAGIC_ERROR)) {
        if (cookie_ == nullptr) throw std::runtime_error("cannot start libmagic");
        if (magic_load(cookie_, nullptr) != 0) {
            const std::string reason = magic_error(cookie_) != nullptr ? magic_error(cookie_) : "unknown error";
            magic_close(cookie_);
            throw std::runtime_error("cannot load the file-type database of libmagic: " + reason);
        }
    }
    ~TMagic() { magic_close(cookie_); }
    TMagic(const TMagic&) = delete;
    TMagic& operator=(const TMagic&) = delete;

    std::string Mime(ConstBytes data) const { return Answer(MAGIC_MIME_TYPE, data, UnknownType); }
    std::string Description(ConstBytes data) const { return Answer(MAGIC_NONE, data, "data"); }

private:
    std::string Answer(int flags, ConstBytes data, const char* unknown) const {
        magic_setflags(cookie_, flags | MAGIC_ERROR);
        const char* answer = magic_buffer(cookie_, data.data(), data.size());
        return answer != nullptr ? answer : unknown;
    }
    magic_t cookie_;
};

// A loaded instance for one thread's search, given back to the pool after it.
class TMagicLease {
public:
    TMagicLease() = default;
    TMagicLease(const TMagicLease&) = delete;
    TMagicLease& operator=(const TMagicLease&) = delete;
    ~TMagicLease() {
        if (!magic_) return;
        const std::lock_guard lock(PoolLock());
        Pool().push_back(std::move(magic_));
    }
    const TMagic& operator*() {
        if (!magic_) {
            {
                const std::lock_guard lock(PoolLock());
                if (!Pool().empty()) {
                    magic_ = std::move(Pool().back());
                    Pool().pop_back();
                }
            }
            if (!magic_) magic_ = std::make_unique<TMagic>();
        }
        return *magic_;
    }

private:
    static std::mutex& PoolLock() {
        static std::mutex lock;
        return lock;
    }
    static std::vector<std::unique_ptr<TMagic>>& Pool() {
        static std::vector<std::unique_ptr<TMagic>> pool;
        return pool;
    }
    std::unique_ptr<TMagic> magic_;
};

bool Recognised(std::string_view mime) { return mime != UnknownType && mime != "application/x-empty"; }

// Bytes that look random, the same every run, to stand in for all but a
// plaintext's first bytes.
const std::array<std::uint8_t, IdentifyWindowBytes>& Filler() {
    static const auto filler = [] {
        std::array<std::uint8_t, IdentifyWindowBytes> bytes{};
        std::uint32_t x = 0x2545F491;
        for (auto& b : bytes) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<std::uint8_t>(x >> 24);
        }
        return bytes;
    }();
    return filler;
}

// How many of the first bytes (one or two) libmagic needs to keep answering mime, in bits.
double SignatureBits(const TMagic& magic, ConstBytes plain, const std::string& mime, std::vector<std::uint8_t>& probe) {
    double bits = 8.0 * std::min(plain.size(), SignatureProbes[std::size(SignatureProbes) - 1]);
    for (std::size_t kept : SignatureProbes) {
        if (kept >= plain.size()) break;
        probe.assign(plain.begin(), plain.end());
        std::copy_n(Filler().begin() + kept, plain.size() - kept, probe.begin() + kept);
        const bool same = magic.Mime(probe) == mime;
        SecureFill(probe.data(), probe.size(), 0);
        if (same) {
            bits = 8.0 * kept;
            break;
        }
    }
    return bits;
}

// Runs work(item, results) for items 0 to count - 1 on the threads asked
// for; the first exception a thread meets is raised again here.
template <typename Work>
std::vector<TCandidate> RunParallel(std::size_t count, unsigned threads, Work work) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, std::max<std::size_t>(count, 1)));
    std::atomic<std::size_t> next{0};
    std::mutex merge;
    std::vector<TCandidate> all;
    std::exception_ptr failure;
    const auto run = [&] {
        std::vector<TCandidate> found;
        try {
            typename Work::State state;
            for (std::size_t item; (item = next.fetch_add(1)) < count;) work(item, state, found);
        } catch (...) {
            next = count;
            const std::lock_guard lock(merge);
            if (!failure) failure = std::current_exception();
        }
        const std::lock_guard lock(merge);
        std::ranges::move(found, std::back_inserter(all));
    };
    std::vector<std::jthread> pool;
    for (unsigned i = 1; i < threads; ++i) pool.emplace_back(run);
    run();
    pool.clear();
    if (failure) std::rethrow_exception(failure);
    return all;
}

TIdentifyResult Ranked(std::vector<TCandidate> found, std::size_t tried, std::size_t top) {
    std::ranges::sort(found, [](const TCandidate& a, const TCandidate& b) {
        if (a.score != b.score) return a.score > b.score;
        if (a.detail != b.detail) return a.detail > b.detail;
        return std::tuple(a.password, a.cipher, a.digest, a.mode.value_or(-1)) <
               std::tuple(b.password, b.cipher, b.digest, b.mode.value_or(-1));
    });
    if (top != 0 && found.size() > top) found.resize(top);
    return {tried, std::move(found)};
}

// Catalogue codes in code order, the default row (listed as 0) first.
template <typename Rows>
std::vector<std::int32_t> Codes(const Rows& rows) {
    std::vector<std::int32_t> codes;
    for (const auto& row : rows) codes.push_back(row.code);
    std::ranges::sort(codes);
    return codes;
}

struct TTextWork {
    struct State {
        TKestrune object;
    };
    std::u16string_view base64;
    std::span<const TSecretText> passwords;
    const TIdentifyOptions& options;
    std::vector<std::int32_t> ciphers, digests;
    std::u16string prefix;

    void operator()(std::size_t item, State& state, std::vector<TCandidate>& found) const {
        const std::size_t perPassword = ciphers.size() * digests.size();
        const std::size_t password = item / perPassword;
        const std::int32_t cipher = ciphers[item % perPassword / digests.size()];
        const std::int32_t digest = digests[item % digests.size()];
        state.object.SetHashAlgorithm(digest);
        std::u16string plain = state.object.DecryptString(base64, passwords[password].View(), cipher);
        if (auto candidate = Judge(state, plain, passwords[password].View(), cipher)) {
            candidate->digest = digest;
            candidate->password = password;
            found.push_back(std::move(*candidate));
        }
        Wipe(plain);
    }

    std::optional<TCandidate> Judge(State& state, std::u16string_view plain, std::u16string_view key,
                                    std::int32_t cipher) const {
        if (plain.empty()) return std::nullopt;
        if (options.knownPrefix && !plain.starts_with(prefix)) return std::nullopt;
        const TTextEvidence evidence = TextEvidence(plain);
        if (!options.knownPrefix && evidence.bits < PlausibleTextBits) return std::nullopt;
        // What EncryptString wrote comes back from its own plaintext.
        if (state.object.EncryptString(plain, key, cipher) != base64) return std::nullopt;
        TCandidate candidate;
        candidate.cipher = cipher;
        candidate.score = evidence.bits;
        candidate.printable = evidence.printable;
        candidate.preview = TextPreview(plain);
        return candidate;
    }
};

// A type that the starts of several keys show is what noise looks like to
// libmagic in this search (some "DOS executable" rules pass for one random
// start in a hundred): it is no evidence there. The right key shows its
// type alone, in the modes that share its first block at most.
void DiscountNoiseTypes(std::vector<TCandidate>& found) {
    std::map<std::string, std::set<std::tuple<std::size_t, std::int32_t, std::int32_t>>> keysOf;
    for (const auto& c : found)
        if (c.typeBits > 0) keysOf[c.mime].insert({c.password, c.cipher, c.digest});
    for (auto& c : found)
        if (c.typeBits > 0 && keysOf[c.mime].size() > 1) {
            c.score -= c.typeBits;
            c.typeBits = 0;
        }
}

struct TFileWork {
    struct State {
        TMagicLease magic;  // taken when first needed
        std::vector<std::uint8_t> plain, probe;  // wiped after each use
    };
    ConstBytes start;
    std::span<const TSecretString> keys;  // the passwords in the code page
    const TIdentifyOptions& options;
    std::vector<std::int32_t> ciphers, digests;
    bool secondPass = false;  // libmagic for the starts that show no structure

    void operator()(std::size_t item, State& state, std::vector<TCandidate>& found) const {
        const std::size_t perPassword = ciphers.size() * digests.size();
        const std::size_t password = item / perPassword;
        const std::int32_t cipherCode = ciphers[item % perPassword / digests.size()];
        const std::int32_t digest = digests[item % digests.size()];
        auto cipher = CreateCipherFor(cipherCode);
        cipher->InitFromPassword(keys[password], DigestClassFor(digest));
        // One key set-up serves every mode: Reset starts the chain afresh.
        auto* block = dynamic_cast<TKC_blockcipher*>(cipher.get());
        for (std::int32_t mode = 0; mode < (block != nullptr ? ModeCount : 1); ++mode) {
            std::optional<std::int32_t> modeUsed;
            if (block != nullptr) {
                block->CipherMode = static_cast<TKC_ciphermode>(mode);
                block->Reset();
                modeUsed = mode;
            }
            state.plain.assign(start.begin(), start.end());
            cipher->Decrypt(state.plain, state.plain);
            Judge(state, cipherCode, digest, modeUsed, password, found);
        }
        cipher->Wipe();
        SecureFill(state.plain.data(), state.plain.size(), 0);
    }

    void Judge(State& state, std::int32_t cipher, std::int32_t digest, std::optional<std::int32_t> mode,
               std::size_t password, std::vector<TCandidate>& found) const {
        const ConstBytes plain(state.plain);
        if (const auto& prefix = options.knownPrefix;
            prefix && (plain.size() < prefix->size() || !std::equal(prefix->begin(), prefix->end(), plain.begin(),
                                                                    [](char p, std::uint8_t b) {
                                                                        return static_cast<std::uint8_t>(p) == b;
                                                                    })))
            return;
        const double structure = StructureBits(plain);
        const bool filtered = options.knownPrefix || options.knownType;
        const bool structured =
            structure >= MagicBits || SegmentBits(plain.first(std::min(plain.size(), StartBytes))) >= StartMagicBits;
        if (!filtered && structured == secondPass) return;
        const TMagic& magic = *state.magic;
        const std::string mime = magic.Mime(plain);
        const bool recognised = Recognised(mime);
        const std::string description = recognised ? magic.Description(plain) : "data";
        if (options.knownType && !TypeMatches(*options.knownType, mime, description)) return;
        // Under an exact filter only the order of what passes matters, and structure decides it.
        const double typeBits = recognised && !filtered ? SignatureBits(magic, plain, mime, state.probe) : 0;
        // Recognised types stay, plausible or not, to be counted across keys.
        if (!filtered && !recognised && structure < PlausibleFileBits) return;
        found.push_back({cipher, digest, mode, password, structure + typeBits, recognised ? description : "data",
                         recognised ? mime : UnknownType, 0, BytePreview(plain),
                         RawStructureBits(plain.first(std::min(plain.size(), DetailBytes))), typeBits});
    }
};

// The digest text in upper case without surrounding spaces, or an
// explanation of why it is not one.
std::string NormalisedDigest(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    std::string upper;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            throw std::invalid_argument("the digest must be hexadecimal, as HashString writes it");
        upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    for (const auto& row : DigestCatalogue())
        if (upper.size() * 4 == static_cast<std::size_t>(row.algorithmClass.GetHashSize()))
            return upper;
    throw std::invalid_argument("no digest has " + std::to_string(upper.size()) +
                                " hexadecimal digits: the catalogue's digests have 32, 40, 48, 64, 96 or 128");
}

std::string Hex(ConstBytes bytes) {
    std::string out;
    for (std::uint8_t b : bytes) AppendHex(out, b, 2);
    return out;
}

OrderedJson CandidateJson(const TCandidate& candidate, std::size_t rank, bool isFile, bool passwordsListed) {
    OrderedJson entry;
    entry["rank"] = rank;
    entry["score"] = std::round(candidate.score * 10) / 10;
    entry["cipher"] = CipherName(candidate.cipher);
    entry["cipher_code"] = candidate.cipher;
    entry["hash"] = DigestName(candidate.digest);
    entry["hash_code"] = candidate.digest;
    if (isFile) {
        entry["mode"] = candidate.mode ? OrderedJson(ModeName(*candidate.mode)) : OrderedJson();
        entry["mode_code"] = candidate.mode ? OrderedJson(*candidate.mode) : OrderedJson();
        entry["type"] = candidate.type;
        entry["mime"] = candidate.mime;
    } else {
        entry["printable"] = std::round(candidate.printable * 1000) / 1000;
    }
    if (passwordsListed) entry["password_line"] = candidate.password + 1;
    entry["preview"] = candidate.preview;
    return entry;
}

}  // namespace

bool TypeMatches(std::string_view wanted, std::string_view mime, std::string_view description) {
    const std::string want = Lower(wanted), type = Lower(mime), text = Lower(description);
    if (want.empty()) return false;
    if (want == type) return true;
    if (const auto slash = type.find('/'); slash != std::string::npos)
        if (want == type.substr(0, slash) || want == type.substr(slash + 1)) return true;
    // The description's start, ending where a word ends.
    return text.starts_with(want) && (text.size() == want.size() || !std::isalnum(static_cast<unsigned char>(text[want.size()])));
}

TIdentifyResult IdentifyText(std::u16string_view base64, std::span<const TSecretText> passwords,
                             const TIdentifyOptions& options) {
    TTextWork work{base64, passwords, options, Codes(CipherCatalogue()), Codes(DigestCatalogue()),
                   options.knownPrefix ? Utf8ToUtf16(*options.knownPrefix) : std::u16string()};
    const std::size_t count = passwords.size() * work.ciphers.size() * work.digests.size();
    return Ranked(RunParallel(count, options.threads, work), count, options.top);
}

TIdentifyResult IdentifyFileStart(ConstBytes start, std::span<const TSecretText> passwords,
                                  const TIdentifyOptions& options) {
    // The code page's bytes of each password, once, as the object keys with them.
    std::vector<TSecretString> keys;
    for (const auto& password : passwords) {
        std::string ansi = ToAnsi(password.View());
        keys.emplace_back(ansi);
        Wipe(ansi);
    }
    TFileWork work{start, keys, options, Codes(CipherCatalogue()), Codes(DigestCatalogue())};
    const std::size_t count = passwords.size() * work.ciphers.size() * work.digests.size();
    std::size_t tried = 0;
    for (const auto& row : CipherCatalogue())
        tried += row.algorithmClass.GetBlockSize() < 0 ? 1 : ModeCount;
    tried *= passwords.size() * work.digests.size();
    // libmagic first where the start shows structure, which real files
    // nearly always do; the rest only when that finds nothing that no
    // unstructured start could outrank (its signature at most, beneath
    // the structure that would have sent it to the first pass). An exact
    // filter has libmagic look at every start in the first pass.
    auto found = RunParallel(count, options.threads, work);
    const double unbeatable = MagicBits + SignatureProbes[std::size(SignatureProbes) - 1] * 8.0;
    const bool filtered = options.knownPrefix || options.knownType;
    if (!filtered && std::ranges::none_of(found, [&](const TCandidate& c) { return c.score >= unbeatable; })) {
        work.secondPass = true;
        std::ranges::move(RunParallel(count, options.threads, work), std::back_inserter(found));
    }
    if (!filtered) {
        DiscountNoiseTypes(found);
        std::erase_if(found, [](const TCandidate& c) { return c.score < PlausibleFileBits; });
    }
    return Ranked(std::move(found), tried, options.top);
}

std::vector<std::uint8_t> ReadFileStart(const std::string& name) {
    auto [file, status] = OpenSource(name);
    if (!file) throw std::runtime_error(FileFailureReason(status, name, ""));
    std::vector<std::uint8_t> start(IdentifyWindowBytes);
    std::size_t filled = 0;
    while (filled < start.size()) {
        const std::size_t got = file->Read(Bytes(start).subspan(filled));
        if (got == 0) break;
        filled += got;
    }
    if (file->Failed()) throw std::runtime_error(FileFailureReason(file->Status(), name, ""));
    start.resize(filled);
    return start;
}

std::vector<TSecretText> ReadPasswordList(const std::string& path) {
    std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
    if (!in) throw EPasswordSource("cannot read the password list '" + path + "'");
    TSecretString all;
    std::array<char, 4096> piece;
    while (in.read(piece.data(), piece.size()) || in.gcount() > 0) all.append(piece.data(), static_cast<std::size_t>(in.gcount()));
    SecureFill(piece.data(), piece.size(), 0);
    if (in.bad()) throw EPasswordSource("cannot read the password list '" + path + "'");
    std::vector<TSecretText> passwords;
    std::string_view rest = all;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        passwords.push_back(SecretFromUtf8(line));
    }
    Wipe(all);
    if (passwords.empty()) throw EPasswordSource("the password list '" + path + "' holds no password");
    return passwords;
}

std::vector<std::int32_t> IdentifyTextDigest(std::string_view digestText, std::u16string_view text) {
    const std::string wanted = NormalisedDigest(digestText);
    const TKestrune object;
    std::vector<std::int32_t> codes;
    for (std::int32_t code : Codes(DigestCatalogue()))
        if (Utf16ToUtf8(object.HashString(text, code)) == wanted) codes.push_back(code);
    return codes;
}

std::vector<std::int32_t> IdentifyFileDigest(std::string_view digestText, const std::string& name) {
    const std::string wanted = NormalisedDigest(digestText);
    auto [file, status] = OpenSource(name);
    if (!file) throw std::runtime_error(FileFailureReason(status, name, ""));
    // One pass feeds every digest, so that standard input can be read too.
    const auto codes = Codes(DigestCatalogue());
    std::vector<std::unique_ptr<TKC_hash>> hashes;
    for (std::int32_t code : codes) {
        hashes.push_back(DigestClassFor(code).Create());
        hashes.back()->Init();
    }
    std::vector<std::uint8_t> piece(StreamPieceSize);
    for (std::size_t got; (got = file->Read(piece)) > 0;)
        for (auto& hash : hashes) hash->Update(ConstBytes(piece).first(got));
    if (file->Failed()) throw std::runtime_error(FileFailureReason(file->Status(), name, ""));
    std::vector<std::int32_t> found;
    std::array<std::uint8_t, 64> digest{};
    for (std::size_t i = 0; i < codes.size(); ++i) {
        hashes[i]->Final(digest);
        if (Hex(ConstBytes(digest).first(hashes[i]->DigestBytes())) == wanted) found.push_back(codes[i]);
    }
    return found;
}

std::string IdentifyJson(const TIdentifyResult& result, bool isFile, bool passwordsListed) {
    OrderedJson answer;
    answer["tried"] = result.tried;
    answer["candidates"] = OrderedJson::array();
    for (std::size_t i = 0; i < result.candidates.size(); ++i)
        answer["candidates"].push_back(CandidateJson(result.candidates[i], i + 1, isFile, passwordsListed));
    return answer.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
}

std::string DigestJson(std::span<const std::int32_t> codes) {
    OrderedJson answer;
    answer["digests"] = OrderedJson::array();
    for (std::int32_t code : codes) answer["digests"].push_back({{"hash", DigestName(code)}, {"hash_code", code}});
    return answer.dump();
}

void WriteCandidates(std::ostream& out, const TIdentifyResult& result, bool isFile, bool passwordsListed) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> head = {"rank", "score", "cipher", "hash"};
    if (isFile) head.push_back("mode");
    if (passwordsListed) head.push_back("password");
    head.push_back(isFile ? "type" : "printable");
    head.push_back("preview");
    rows.push_back(head);
    for (std::size_t i = 0; i < result.candidates.size(); ++i) {
        const TCandidate& c = result.candidates[i];
        char score[32];
        std::snprintf(score, sizeof score, "%.0f", c.score);
        std::vector<std::string> row = {std::to_string(i + 1), score, std::string(CipherName(c.cipher)), std::string(DigestName(c.digest))};
        if (isFile) row.emplace_back(c.mode ? ModeName(*c.mode) : "-");
        if (passwordsListed) row.push_back("line " + std::to_string(c.password + 1));
        if (isFile) {
            row.push_back(c.type.size() > 60 ? c.type.substr(0, 57) + "..." : c.type);
        } else {
            char share[16];
            std::snprintf(share, sizeof share, "%.0f%%", c.printable * 100);
            row.emplace_back(share);
        }
        row.push_back(c.preview);
        rows.push_back(std::move(row));
    }
    std::vector<std::size_t> widths(head.size(), 0);
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const bool number = i < 2;  // rank and score line up on the right
            const std::string pad(widths[i] - row[i].size(), ' ');
            if (i + 1 == row.size()) line += row[i];
            else line += (number ? pad + row[i] : row[i] + pad) + "  ";
        }
        WriteLine(out, line);
    }
}

}  // namespace kestrune::cli
