#include "age.h"

#include <sodium.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "object/KCcodepage.h"

namespace kestrune::cli::age {
namespace {

constexpr std::string_view Version = "age-encryption.org/v1";
constexpr std::string_view X25519Label = "age-encryption.org/v1/X25519";
constexpr std::string_view ScryptLabel = "age-encryption.org/v1/scrypt";
constexpr std::string_view ArmorBegin = "-----BEGIN AGE ENCRYPTED FILE-----";
constexpr std::string_view ArmorEnd = "-----END AGE ENCRYPTED FILE-----";
constexpr std::size_t TagSize = crypto_aead_chacha20poly1305_ietf_ABYTES;
constexpr std::size_t FileKeySize = 16;
constexpr std::size_t ColumnsPerLine = 64;
// Bounds on what a header may make the reader hold: far above any real
// file (a stanza line is under 100 bytes), far below harm.
constexpr std::size_t MaxLine = 4096;
constexpr std::size_t MaxStanzas = 4096;

constexpr char Base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char Bech32Alphabet[] = "qpzry9x8gf2tvdw0s3jn54khce6mua7l";

using TWipedBytes = std::vector<std::uint8_t, TWipingAllocator<std::uint8_t>>;

ConstBytes AsBytes(std::string_view text) noexcept {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void InitSodium() {
    if (sodium_init() < 0) throw EAge("the cryptographic library could not start");
}

int Base64Value(char c) noexcept {
    const char* at = std::strchr(Base64Alphabet, c);
    return c == '\0' || at == nullptr ? -1 : static_cast<int>(at - Base64Alphabet);
}

std::string EncodeBase64Padded(ConstBytes data) {
    std::string text = EncodeBase64(data);
    text.append((4 - text.size() % 4) % 4, '=');
    return text;
}

// The 12-byte nonce of chunk counter: 11 bytes big-endian, then 1 for the last chunk.
std::array<std::uint8_t, 12> ChunkNonce(std::uint64_t counter, bool last) noexcept {
    std::array<std::uint8_t, 12> nonce{};
    for (int i = 0; i < 8; ++i) nonce[10 - i] = static_cast<std::uint8_t>(counter >> (8 * i));
    nonce[11] = last ? 1 : 0;
    return nonce;
}

void Seal(const TSecretKey<32>& key, std::span<const std::uint8_t, 12> nonce, ConstBytes plain, std::uint8_t* out) {
    unsigned long long written = 0;
    crypto_aead_chacha20poly1305_ietf_encrypt(out, &written, plain.data(), plain.size(), nullptr, 0, nullptr,
                                              nonce.data(), key.bytes.data());
}

bool Open(const TSecretKey<32>& key, std::span<const std::uint8_t, 12> nonce, ConstBytes sealed, std::uint8_t* out) {
    unsigned long long written = 0;
    return sealed.size() >= TagSize &&
           crypto_aead_chacha20poly1305_ietf_decrypt(out, &written, nullptr, sealed.data(), sealed.size(), nullptr, 0,
                                                     nonce.data(), key.bytes.data()) == 0;
}

constexpr std::array<std::uint8_t, 12> ZeroNonce{};

TSecretKey<32> HeaderMac(const TSecretKey<FileKeySize>& fileKey, std::string_view header) {
    TSecretKey<32> macKey, mac;
    HkdfSha256(fileKey.bytes, {}, "header", macKey.bytes);
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, macKey.bytes.data(), macKey.bytes.size());
    crypto_auth_hmacsha256_update(&state, AsBytes(header).data(), header.size());
    crypto_auth_hmacsha256_final(&state, mac.bytes.data());
    sodium_memzero(&state, sizeof state);
    return mac;
}

TSecretKey<32> PayloadKey(const TSecretKey<FileKeySize>& fileKey, ConstBytes nonce) {
    TSecretKey<32> key;
    HkdfSha256(fileKey.bytes, nonce, "payload", key.bytes);
    return key;
}

TSecretKey<32> ScryptKey(const TSecretString& passphrase, ConstBytes salt, int workFactor) {
    TWipedBytes fullSalt(AsBytes(ScryptLabel).begin(), AsBytes(ScryptLabel).end());
    fullSalt.insert(fullSalt.end(), salt.begin(), salt.end());
    TSecretKey<32> key;
    if (crypto_pwhash_scryptsalsa208sha256_ll(AsBytes(passphrase).data(), passphrase.size(), fullSalt.data(),
                                              fullSalt.size(), std::uint64_t{1} << workFactor, 8, 1, key.bytes.data(),
                                              key.bytes.size()) != 0)
        throw EAge("the passphrase key could not be derived (out of memory?)");
    return key;
}

TSecretKey<32> X25519WrapKey(const TSecretKey<32>& shared, ConstBytes share, const TPublicKey& recipient) {
    std::array<std::uint8_t, 64> salt{};
    std::copy(share.begin(), share.end(), salt.begin());
    std::copy(recipient.begin(), recipient.end(), salt.begin() + 32);
    TSecretKey<32> key;
    HkdfSha256(shared.bytes, salt, X25519Label, key.bytes);
    return key;
}

// --- writing -------------------------------------------------------------

}  // namespace

// Where the writer's bytes go: straight to the stream, or as armor.
class TAgeWriter::TSink {
public:
    TSink(TKC_stream& out, bool armor) : out_(out), armor_(armor) {}
    void Put(ConstBytes data) {
        if (!armor_) return PutRaw(data);
        for (std::uint8_t byte : data) {
            group_.push_back(byte);
            if (group_.size() == ColumnsPerLine / 4 * 3) FlushLine();
        }
    }
    void Begin() {
        if (armor_) PutRaw(AsBytes(std::string(ArmorBegin) + "\n"));
    }
    void End() {
        if (!armor_) return;
        if (!group_.empty()) FlushLine();
        PutRaw(AsBytes(std::string(ArmorEnd) + "\n"));
    }

private:
    void FlushLine() {
        PutRaw(AsBytes(EncodeBase64Padded(group_) + "\n"));
        group_.clear();
    }
    void PutRaw(ConstBytes data) {
        if (out_.Write(data) != data.size()) throw EAge("the encrypted output could not be written");
    }
    TKC_stream& out_;
    bool armor_;
    std::vector<std::uint8_t> group_;  // ciphertext only
};

TAgeWriter::TAgeWriter(TKC_stream& out, const TRecipients& recipients, bool armor)
    : sink_(std::make_unique<TSink>(out, armor)) {
    InitSodium();
    if (recipients.keys.empty() && !recipients.passphrase)
        throw EAge("no recipient: give -r, -R or a passphrase");
    if (!recipients.keys.empty() && recipients.passphrase)
        throw EAge("a passphrase must be a file's only recipient: give either public keys or a passphrase");
    TSecretKey<FileKeySize> fileKey;
    randombytes_buf(fileKey.bytes.data(), fileKey.bytes.size());

    std::string header = std::string(Version) + "\n";
    std::array<std::uint8_t, FileKeySize + TagSize> wrapped{};
    for (const TPublicKey& recipient : recipients.keys) {
        TSecretKey<32> ephemeral, shared;
        TPublicKey share{};
        randombytes_buf(ephemeral.bytes.data(), 32);
        crypto_scalarmult_base(share.data(), ephemeral.bytes.data());
        if (crypto_scalarmult(shared.bytes.data(), ephemeral.bytes.data(), recipient.data()) != 0)
            throw EAge("a recipient's public key is not usable (a low-order point)");
        Seal(X25519WrapKey(shared, share, recipient), ZeroNonce, fileKey.bytes, wrapped.data());
        header += "-> X25519 " + EncodeBase64(share) + "\n" + EncodeBase64(wrapped) + "\n";
    }
    if (recipients.passphrase) {
        if (recipients.workFactor < 1 || recipients.workFactor > 30) throw EAge("the work factor must be 1 to 30");
        std::array<std::uint8_t, 16> salt{};
        randombytes_buf(salt.data(), salt.size());
        Seal(ScryptKey(*recipients.passphrase, salt, recipients.workFactor), ZeroNonce, fileKey.bytes, wrapped.data());
        header += "-> scrypt " + EncodeBase64(salt) + " " + std::to_string(recipients.workFactor) + "\n" +
                  EncodeBase64(wrapped) + "\n";
    }
    header += "---";
    header += " " + EncodeBase64(HeaderMac(fileKey, header).bytes) + "\n";

    std::array<std::uint8_t, 16> nonce{};
    randombytes_buf(nonce.data(), nonce.size());
    payloadKey_ = PayloadKey(fileKey, nonce);
    sink_->Begin();
    sink_->Put(AsBytes(header));
    sink_->Put(nonce);
    chunk_.reserve(ChunkSize + TagSize);
}

TAgeWriter::~TAgeWriter() = default;

std::size_t TAgeWriter::Write(ConstBytes data) {
    if (finished_) throw EAge("write after the end of the age file");
    const std::size_t total = data.size();
    while (!data.empty()) {
        // A full chunk is sealed only once more data follows: the last
        // chunk, which may be full, is sealed by Finish with its own flag.
        if (chunk_.size() == ChunkSize) SealChunk(false);
        const std::size_t take = std::min(ChunkSize - chunk_.size(), data.size());
        chunk_.insert(chunk_.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(take));
        data = data.subspan(take);
    }
    return total;
}

void TAgeWriter::Finish() {
    if (finished_) return;
    SealChunk(true);
    sink_->End();
    finished_ = true;
}

void TAgeWriter::SealChunk(bool last) {
    TWipedBytes sealed(chunk_.size() + TagSize);
    Seal(payloadKey_, ChunkNonce(counter_++, last), chunk_, sealed.data());
    sink_->Put(sealed);
    SecureFill(chunk_.data(), chunk_.size(), 0);
    chunk_.clear();
}

// --- reading -------------------------------------------------------------

namespace {

// Buffered reading of a stream by lines (the header) and by bytes (the payload).
class TLineReader final : public TKC_stream {
public:
    explicit TLineReader(TKC_stream& in) : in_(in) {}

    std::size_t Read(Bytes out) override {
        std::size_t done = 0;
        while (done < out.size()) {
            if (pos_ == buffer_.size() && !Fill()) break;
            const std::size_t take = std::min(out.size() - done, buffer_.size() - pos_);
            std::memcpy(out.data() + done, buffer_.data() + pos_, take);
            pos_ += take;
            done += take;
        }
        return done;
    }
    std::size_t Write(ConstBytes) override { return 0; }

    // The next line without its LF; nullopt at the end of the data. A line
    // longer than MaxLine, or the end of the data in the middle of a line,
    // is a malformed or truncated file.
    std::optional<std::string> ReadLine(const char* what) {
        std::string line;
        for (;;) {
            if (pos_ == buffer_.size() && !Fill()) {
                if (line.empty()) return std::nullopt;
                throw EAge(std::string("the file ends inside ") + what + " (truncated?)");
            }
            const char c = static_cast<char>(buffer_[pos_++]);
            if (c == '\n') return line;
            if (line.size() == MaxLine) throw EAge(std::string("not an age file: over-long line in ") + what);
            line += c;
        }
    }

    // Whether the data starts with prefix, without consuming it.
    bool StartsWith(std::string_view prefix) {
        while (buffer_.size() - pos_ < prefix.size())
            if (!FillMore()) break;
        const std::size_t have = std::min(prefix.size(), buffer_.size() - pos_);
        return have == prefix.size() && std::memcmp(buffer_.data() + pos_, prefix.data(), have) == 0;
    }

private:
    bool Fill() {
        buffer_.clear();
        pos_ = 0;
        return FillMore();
    }
    bool FillMore() {
        std::array<std::uint8_t, 8192> piece{};
        const std::size_t got = in_.Read(piece);
        buffer_.insert(buffer_.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
        SecureFill(piece.data(), piece.size(), 0);
        return got > 0;
    }
    TKC_stream& in_;
    TWipedBytes buffer_;
    std::size_t pos_ = 0;
};

// The bytes inside an armor: padded Base64 lines of 64 columns, the last
// one shorter, then the end line and nothing but white space.
class TArmorReader final : public TKC_stream {
public:
    explicit TArmorReader(TLineReader& in) : in_(in) {
        const auto first = in_.ReadLine("the armor");
        if (!first || TrimRight(*first) != ArmorBegin) throw EAge("not an age file: bad armor start line");
    }
    std::size_t Read(Bytes out) override {
        std::size_t done = 0;
        while (done < out.size()) {
            if (pos_ == decoded_.size() && !NextLine()) break;
            const std::size_t take = std::min(out.size() - done, decoded_.size() - pos_);
            std::memcpy(out.data() + done, decoded_.data() + pos_, take);
            pos_ += take;
            done += take;
        }
        return done;
    }
    std::size_t Write(ConstBytes) override { return 0; }

private:
    static std::string_view TrimRight(std::string_view line) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        return line;
    }
    bool NextLine() {
        if (ended_) return false;
        const auto read = in_.ReadLine("the armor");
        if (!read) throw EAge("the armored file ends without its end line (truncated?)");
        const std::string_view line = TrimRight(*read);
        if (line == ArmorEnd) {
            ended_ = true;
            while (const auto rest = in_.ReadLine("the armor"))
                if (rest->find_first_not_of(" \t\r") != std::string::npos)
                    throw EAge("data after the end of the armored file");
            return false;
        }
        if (shortSeen_ || line.size() > ColumnsPerLine || line.empty() || line.size() % 4 != 0)
            throw EAge("corrupted armor: bad Base64 line length");
        shortSeen_ = line.size() < ColumnsPerLine;
        std::string_view body = line;
        std::size_t padding = 0;
        while (!body.empty() && body.back() == '=' && padding < 2) {
            body.remove_suffix(1);
            ++padding;
        }
        if (padding > 0) shortSeen_ = true;
        auto bytes = DecodeBase64(body);
        if (!bytes) throw EAge("corrupted armor: not Base64");
        decoded_.assign(bytes->begin(), bytes->end());
        SecureFill(bytes->data(), bytes->size(), 0);
        pos_ = 0;
        return true;
    }
    TLineReader& in_;
    TWipedBytes decoded_;
    std::size_t pos_ = 0;
    bool shortSeen_ = false, ended_ = false;
};

struct TStanza {
    std::vector<std::string> args;  // the type first
    std::vector<std::uint8_t> body;
};

std::vector<std::string> SplitArgs(std::string_view text) {
    std::vector<std::string> args;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = text.find(' ', start);
        const std::string_view arg = text.substr(start, space == std::string_view::npos ? space : space - start);
        if (arg.empty() || !std::all_of(arg.begin(), arg.end(), [](char c) { return c >= 33 && c <= 126; }))
            throw EAge("corrupted header: bad stanza line");
        args.emplace_back(arg);
        if (space == std::string_view::npos) return args;
        start = space + 1;
    }
}

struct THeader {
    std::vector<TStanza> stanzas;
    std::string macInput;  // the header up to and with "---"
    std::vector<std::uint8_t> mac;
};

THeader ReadHeader(TLineReader& in) {
    THeader header;
    const auto version = in.ReadLine("the header");
    if (!version) throw EAge("the file is empty");
    if (*version != Version) throw EAge("not an age file (or a version this tool does not read)");
    header.macInput = *version + "\n";
    for (;;) {
        const auto line = in.ReadLine("the header");
        if (!line) throw EAge("the file ends inside the header (truncated?)");
        if (line->starts_with("---")) {
            if (!line->starts_with("--- ")) throw EAge("corrupted header: bad MAC line");
            header.macInput += "---";
            auto mac = DecodeBase64(std::string_view(*line).substr(4));
            if (!mac || mac->size() != 32) throw EAge("corrupted header: bad MAC line");
            header.mac = std::move(*mac);
            return header;
        }
        if (!line->starts_with("-> ")) throw EAge("corrupted header: expected a stanza or the MAC line");
        if (header.stanzas.size() == MaxStanzas) throw EAge("corrupted header: too many stanzas");
        header.macInput += *line + "\n";
        TStanza stanza{SplitArgs(std::string_view(*line).substr(3)), {}};
        for (;;) {
            const auto bodyLine = in.ReadLine("the header");
            if (!bodyLine) throw EAge("the file ends inside the header (truncated?)");
            header.macInput += *bodyLine + "\n";
            const auto bytes = DecodeBase64(*bodyLine);
            if (!bytes || bodyLine->size() > ColumnsPerLine) throw EAge("corrupted header: bad stanza body");
            stanza.body.insert(stanza.body.end(), bytes->begin(), bytes->end());
            if (bodyLine->size() < ColumnsPerLine) break;
        }
        header.stanzas.push_back(std::move(stanza));
    }
}

std::optional<TSecretKey<FileKeySize>> UnwrapBody(const TSecretKey<32>& wrapKey, ConstBytes body) {
    if (body.size() != FileKeySize + TagSize) throw EAge("corrupted header: a stanza's wrapped key has the wrong size");
    TSecretKey<FileKeySize> fileKey;
    if (!Open(wrapKey, ZeroNonce, body, fileKey.bytes.data())) return std::nullopt;
    return fileKey;
}

std::optional<TSecretKey<FileKeySize>> UnwrapX25519(const TStanza& stanza, const TIdentities& identities) {
    if (stanza.args.size() != 2) throw EAge("corrupted header: bad X25519 stanza");
    const auto share = DecodeBase64(stanza.args[1]);
    if (!share || share->size() != 32) throw EAge("corrupted header: bad X25519 stanza");
    for (const auto& identity : identities.keys) {
        TSecretKey<32> shared;
        TPublicKey ours{};
        crypto_scalarmult_base(ours.data(), identity.bytes.data());
        if (crypto_scalarmult(shared.bytes.data(), identity.bytes.data(), share->data()) != 0)
            throw EAge("corrupted header: an X25519 stanza holds a low-order point");
        if (auto fileKey = UnwrapBody(X25519WrapKey(shared, *share, ours), stanza.body)) return fileKey;
    }
    return std::nullopt;
}

TSecretKey<FileKeySize> UnwrapScrypt(const TStanza& stanza, const TIdentities& identities) {
    if (stanza.args.size() != 3) throw EAge("corrupted header: bad scrypt stanza");
    const auto salt = DecodeBase64(stanza.args[1]);
    const std::string& factorText = stanza.args[2];
    int workFactor = 0;
    const auto [end, error] = std::from_chars(factorText.data(), factorText.data() + factorText.size(), workFactor);
    if (!salt || salt->size() != 16 || error != std::errc() || end != factorText.data() + factorText.size() ||
        factorText.starts_with('0') || workFactor < 1 || workFactor > 30)
        throw EAge("corrupted header: bad scrypt stanza");
    if (!identities.passphrase) throw EAge("the file is encrypted with a passphrase: give one");
    if (workFactor > identities.maxWorkFactor)
        throw EAge("the file's scrypt work factor " + factorText + " is above the limit " +
                   std::to_string(identities.maxWorkFactor) + " (--max-work-factor)");
    auto fileKey = UnwrapBody(ScryptKey(*identities.passphrase, *salt, workFactor), stanza.body);
    if (!fileKey) throw EAge("wrong passphrase (or a corrupted header)");
    return *fileKey;
}

TSecretKey<FileKeySize> FileKeyOf(const THeader& header, const TIdentities& identities) {
    if (header.stanzas.empty()) throw EAge("corrupted header: no recipient stanza");
    const auto isScrypt = [](const TStanza& s) { return s.args[0] == "scrypt"; };
    if (std::any_of(header.stanzas.begin(), header.stanzas.end(), isScrypt)) {
        if (header.stanzas.size() != 1) throw EAge("corrupted header: a scrypt stanza must be the only one");
        return UnwrapScrypt(header.stanzas[0], identities);
    }
    for (const auto& stanza : header.stanzas)
        if (stanza.args[0] == "X25519")
            if (auto fileKey = UnwrapX25519(stanza, identities)) return *fileKey;
    // Stanzas of other types (other tools' recipients) are passed over.
    if (identities.keys.empty()) throw EAge("the file is encrypted to public keys: give an identity file with -i");
    throw EAge("no identity matches any of the file's recipients");
}

}  // namespace

std::uint64_t Decrypt(TKC_stream& raw, const TIdentities& identities, const TPlainSink& sink) {
    InitSodium();
    TLineReader rawLines(raw);
    std::unique_ptr<TArmorReader> armor;
    std::unique_ptr<TLineReader> armoredLines;
    TLineReader* lines = &rawLines;
    if (rawLines.StartsWith("-----BEGIN")) {
        armor = std::make_unique<TArmorReader>(rawLines);
        armoredLines = std::make_unique<TLineReader>(*armor);
        lines = armoredLines.get();
    }
    const THeader header = ReadHeader(*lines);
    const TSecretKey<FileKeySize> fileKey = FileKeyOf(header, identities);
    const TSecretKey<32> mac = HeaderMac(fileKey, header.macInput);
    if (sodium_memcmp(mac.bytes.data(), header.mac.data(), 32) != 0)
        throw EAge("corrupted header: its MAC does not match");

    std::array<std::uint8_t, 16> nonce{};
    if (lines->Read(nonce) != nonce.size()) throw EAge("the file ends before its payload (truncated?)");
    const TSecretKey<32> payloadKey = PayloadKey(fileKey, nonce);

    // One chunk ahead: only the end of the data tells which chunk is last.
    TWipedBytes current(ChunkSize + TagSize), next(ChunkSize + TagSize), plain(ChunkSize);
    std::size_t currentSize = lines->Read(current);
    std::uint64_t counter = 0, total = 0;
    for (;;) {
        std::size_t nextSize = 0;
        if (currentSize == current.size()) nextSize = lines->Read(next);
        const bool last = nextSize == 0;
        if (currentSize <= TagSize && !(last && currentSize == TagSize && counter == 0))
            throw EAge(currentSize == 0 && counter == 0 ? "the file ends before its payload (truncated?)"
                                                        : "the payload is truncated or corrupted");
        if (!Open(payloadKey, ChunkNonce(counter, last), ConstBytes(current).first(currentSize), plain.data()))
            throw EAge(last ? "the payload is truncated or corrupted (its last chunk does not authenticate)"
                            : "the payload is corrupted (chunk " + std::to_string(counter) + " does not authenticate)");
        const std::size_t plainSize = currentSize - TagSize;
        sink(ConstBytes(plain).first(plainSize));
        total += plainSize;
        ++counter;
        if (last) return total;
        std::swap(current, next);
        currentSize = nextSize;
    }
}

// --- encodings and keys --------------------------------------------------

std::string EncodeBase64(ConstBytes data) {
    std::string text;
    text.reserve((data.size() * 4 + 2) / 3);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        for (int shift : {18, 12, 6, 0}) text += Base64Alphabet[(v >> shift) & 63];
    }
    if (const std::size_t rest = data.size() - i; rest > 0) {
        const std::uint32_t v = (data[i] << 16) | (rest == 2 ? data[i + 1] << 8 : 0);
        text += Base64Alphabet[(v >> 18) & 63];
        text += Base64Alphabet[(v >> 12) & 63];
        if (rest == 2) text += Base64Alphabet[(v >> 6) & 63];
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text) {
    if (text.size() % 4 == 1) return std::nullopt;
    std::vector<std::uint8_t> out;
    out.reserve(text.size() * 3 / 4);
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const int value = Base64Value(c);
        if (value < 0) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<std::uint8_t>(bits >> count));
        }
    }
    // Bits left over must be zero, or two texts would give the same bytes.
    if ((bits & ((1u << count) - 1)) != 0) return std::nullopt;
    return out;
}

namespace {

std::uint32_t Bech32Polymod(const std::vector<std::uint8_t>& values) {
    constexpr std::uint32_t Generator[] = {0x3b6a57b2, 0x26508e6d, 0x1ea119fa, 0x3d4233dd, 0x2a1462b3};
    std::uint32_t check = 1;
    for (std::uint8_t value : values) {
        const std::uint32_t top = check >> 25;
        check = ((check & 0x1ffffff) << 5) ^ value;
        for (int i = 0; i < 5; ++i)
            if ((top >> i) & 1) check ^= Generator[i];
    }
    return check;
}

std::vector<std::uint8_t> HrpExpanded(std::string_view hrp) {
    std::vector<std::uint8_t> values;
    for (char c : hrp) values.push_back(static_cast<std::uint8_t>(c) >> 5);
    values.push_back(0);
    for (char c : hrp) values.push_back(static_cast<std::uint8_t>(c) & 31);
    return values;
}

// Regroups bits; nullopt when decoding leaves non-zero or whole-group padding.
std::optional<std::vector<std::uint8_t>> ConvertBits(ConstBytes in, int from, int to, bool pad) {
    std::vector<std::uint8_t> out;
    std::uint32_t acc = 0;
    int bits = 0;
    const std::uint32_t mask = (1u << to) - 1;
    for (std::uint8_t value : in) {
        acc = (acc << from) | value;
        bits += from;
        while (bits >= to) {
            bits -= to;
            out.push_back(static_cast<std::uint8_t>((acc >> bits) & mask));
        }
    }
    if (pad) {
        if (bits > 0) out.push_back(static_cast<std::uint8_t>((acc << (to - bits)) & mask));
    } else if (bits >= from || ((acc << (to - bits)) & mask) != 0) {
        return std::nullopt;
    }
    SecureFill(&acc, sizeof acc, 0);
    return out;
}

std::string ToLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

}  // namespace

std::string Bech32Encode(std::string_view hrp, ConstBytes data) {
    const std::string lowerHrp = ToLower(hrp);
    auto values = *ConvertBits(data, 8, 5, true);
    auto checked = HrpExpanded(lowerHrp);
    checked.insert(checked.end(), values.begin(), values.end());
    checked.insert(checked.end(), 6, 0);
    const std::uint32_t polymod = Bech32Polymod(checked) ^ 1;
    for (int i = 0; i < 6; ++i) values.push_back(static_cast<std::uint8_t>((polymod >> (5 * (5 - i))) & 31));
    std::string text = lowerHrp + "1";
    for (std::uint8_t value : values) text += Bech32Alphabet[value];
    SecureFill(values.data(), values.size(), 0);
    SecureFill(checked.data(), checked.size(), 0);
    return text;
}

std::optional<TBech32> Bech32Decode(std::string_view text) {
    const bool hasLower = std::any_of(text.begin(), text.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    const bool hasUpper = std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    if (hasLower && hasUpper) return std::nullopt;
    const std::string lower = ToLower(text);
    const std::size_t separator = lower.rfind('1');
    if (separator == std::string::npos || separator == 0 || separator + 7 > lower.size()) return std::nullopt;
    const std::string hrp = lower.substr(0, separator);
    if (!std::all_of(hrp.begin(), hrp.end(), [](char c) { return c >= 33 && c <= 126; })) return std::nullopt;
    std::vector<std::uint8_t> values;
    for (char c : std::string_view(lower).substr(separator + 1)) {
        const char* at = std::strchr(Bech32Alphabet, c);
        if (c == '\0' || at == nullptr) return std::nullopt;
        values.push_back(static_cast<std::uint8_t>(at - Bech32Alphabet));
    }
    auto checked = HrpExpanded(hrp);
    checked.insert(checked.end(), values.begin(), values.end());
    const bool valid = Bech32Polymod(checked) == 1;
    SecureFill(checked.data(), checked.size(), 0);
    values.resize(values.size() - 6);
    auto data = valid ? ConvertBits(values, 5, 8, false) : std::nullopt;
    SecureFill(values.data(), values.size(), 0);
    if (!data) return std::nullopt;
    return TBech32{hrp, std::move(*data)};
}

void HkdfSha256(ConstBytes ikm, ConstBytes salt, std::string_view info, Bytes out) {
    if (out.size() > 255 * 32) throw EAge("HKDF output too long");
    std::array<std::uint8_t, 32> zeroSalt{};
    if (salt.empty()) salt = zeroSalt;
    TSecretKey<32> prk, block;
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, salt.data(), salt.size());
    crypto_auth_hmacsha256_update(&state, ikm.data(), ikm.size());
    crypto_auth_hmacsha256_final(&state, prk.bytes.data());
    std::size_t done = 0;
    for (std::uint8_t counter = 1; done < out.size(); ++counter) {
        crypto_auth_hmacsha256_init(&state, prk.bytes.data(), prk.bytes.size());
        if (counter > 1) crypto_auth_hmacsha256_update(&state, block.bytes.data(), block.bytes.size());
        crypto_auth_hmacsha256_update(&state, AsBytes(info).data(), info.size());
        crypto_auth_hmacsha256_update(&state, &counter, 1);
        crypto_auth_hmacsha256_final(&state, block.bytes.data());
        const std::size_t take = std::min<std::size_t>(32, out.size() - done);
        std::memcpy(out.data() + done, block.bytes.data(), take);
        done += take;
    }
    sodium_memzero(&state, sizeof state);
}

TPublicKey ParseRecipient(std::string_view text) {
    const auto decoded = Bech32Decode(text);
    if (text.starts_with("ssh-")) throw EAge("SSH keys are not taken as recipients; use an age1... key");
    if (!decoded || decoded->hrp != "age" || decoded->data.size() != 32 || text != ToLower(text))
        throw EAge("'" + std::string(text) + "' is not an age public key (age1...)");
    TPublicKey key{};
    std::copy(decoded->data.begin(), decoded->data.end(), key.begin());
    return key;
}

TSecretKey<32> ParseIdentity(std::string_view text) {
    auto decoded = Bech32Decode(text);
    const bool valid = decoded && decoded->hrp == "age-secret-key-" && decoded->data.size() == 32 &&
                       !std::any_of(text.begin(), text.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    TSecretKey<32> key;
    if (valid) std::copy(decoded->data.begin(), decoded->data.end(), key.bytes.begin());
    if (decoded) SecureFill(decoded->data.data(), decoded->data.size(), 0);
    // The text may be a key with a typing error: never echo it.
    if (!valid) throw EAge("not an age secret key (AGE-SECRET-KEY-1...)");
    return key;
}

std::string RecipientOf(const TSecretKey<32>& identity) {
    InitSodium();
    TPublicKey key{};
    crypto_scalarmult_base(key.data(), identity.bytes.data());
    return Bech32Encode("age", key);
}

namespace {

// The entries of a key file with their line numbers.
template <class Parse>
auto ReadKeyFile(const std::string& path, const char* what, Parse parse) {
    std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
    if (!in) throw EAge("cannot read the " + std::string(what) + " file '" + path + "': " + std::strerror(errno));
    std::vector<decltype(parse(std::string_view()))> keys;
    TSecretString line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::string_view entry(line);
        if (entry.ends_with('\r')) entry.remove_suffix(1);
        if (entry.size() > MaxLine) throw EAge("'" + path + "' is not a " + what + " file: over-long line");
        if (!entry.empty() && !entry.starts_with('#')) {
            try {
                keys.push_back(parse(entry));
            } catch (const EAge& e) {
                throw EAge("'" + path + "' line " + std::to_string(number) + ": " + e.what());
            }
        }
        Wipe(line);
    }
    if (keys.empty()) throw EAge("'" + path + "' holds no " + what);
    return keys;
}

}  // namespace

std::vector<TPublicKey> ReadRecipientsFile(const std::string& path) {
    return ReadKeyFile(path, "recipients", [](std::string_view entry) { return ParseRecipient(entry); });
}

std::vector<TSecretKey<32>> ReadIdentityFile(const std::string& path) {
    return ReadKeyFile(path, "identity", [](std::string_view entry) { return ParseIdentity(entry); });
}

}  // namespace kestrune::cli::age
