// The age file format (age-encryption.org/v1): what `upgrade` writes and
// `age-decrypt` reads, so that data leaves the legacy scheme for a format
// other software reads. The primitives (X25519, ChaCha20-Poly1305,
// HMAC-SHA-256, scrypt, randomness) come from libsodium; the key
// derivation, the key encodings, the header, the armor and the chunked
// payload are here.
//
// Both directions stream: the payload passes in chunks of 64 KiB, so memory
// does not grow with the data. The reader never hands out a byte of a chunk
// before that chunk has authenticated.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "framework/KCcrypt.h"
#include "secret.h"

namespace kestrune::cli::age {

// A malformed, corrupted or truncated file, a key that fits nothing, or a
// failure of the primitives; the message says which, for a person.
class EAge : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::size_t ChunkSize = 64 * 1024;

// Key material that is wiped when it goes.
template <std::size_t N>
struct TSecretKey {
    std::array<std::uint8_t, N> bytes{};
    TSecretKey() = default;
    TSecretKey(const TSecretKey& other) noexcept : bytes(other.bytes) {}
    TSecretKey& operator=(const TSecretKey& other) noexcept {
        bytes = other.bytes;
        return *this;
    }
    ~TSecretKey() { SecureFill(bytes.data(), N, 0); }
};

using TPublicKey = std::array<std::uint8_t, 32>;

// The scrypt work factor (log2 of N) that upgrade uses by default, as age
// does, and the largest one age-decrypt accepts unless told otherwise: a
// file must not make the reader spend unbounded memory and time.
inline constexpr int DefaultWorkFactor = 18;
inline constexpr int MaxWorkFactor = 22;

// Whom a file is encrypted to: X25519 public keys, or one passphrase (a
// passphrase recipient must be the file's only one, so age can tell a
// passphrase-encrypted file from the rest).
struct TRecipients {
    std::vector<TPublicKey> keys;
    std::optional<TSecretString> passphrase;  // UTF-8
    int workFactor = DefaultWorkFactor;
};

// What may open a file: X25519 secret keys and/or a passphrase.
struct TIdentities {
    std::vector<TSecretKey<32>> keys;
    std::optional<TSecretString> passphrase;  // UTF-8
    int maxWorkFactor = MaxWorkFactor;
};

// Base64 without padding, as the header writes it, and its strict reading:
// nullopt for any other character, padding, or a non-canonical last symbol.
std::string EncodeBase64(ConstBytes data);
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text);

// Bech32 (BIP 173 checksum, no length limit, as age's keys use it).
std::string Bech32Encode(std::string_view hrp, ConstBytes data);
// The lower-case human-readable part and the data; nullopt when the text
// is not valid Bech32 (mixed case, bad checksum, bad padding).
struct TBech32 {
    std::string hrp;
    std::vector<std::uint8_t> data;
};
std::optional<TBech32> Bech32Decode(std::string_view text);

// HKDF-SHA-256 (RFC 5869) into out, at most 255 × 32 bytes.
void HkdfSha256(ConstBytes ikm, ConstBytes salt, std::string_view info, Bytes out);

// "age1..." to its key; EAge saying what is wrong otherwise.
TPublicKey ParseRecipient(std::string_view text);
// "AGE-SECRET-KEY-1..." to its key.
TSecretKey<32> ParseIdentity(std::string_view text);
// The public key of a secret key, as "age1...".
std::string RecipientOf(const TSecretKey<32>& identity);

// A recipients file (-R) or an identity file (-i): one key per line, with
// blank lines and lines starting with # left out. EAge names the file and
// line of an entry that is not a key this tool takes (SSH keys, plugins).
std::vector<TPublicKey> ReadRecipientsFile(const std::string& path);
std::vector<TSecretKey<32>> ReadIdentityFile(const std::string& path);

// Encrypts what is written to it into out: the header at construction, the
// payload in chunks, the last one and the armor's end by Finish. A write
// that out refuses throws EAge, as does a missing Finish's work.
class TAgeWriter final : public TKC_stream {
public:
    TAgeWriter(TKC_stream& out, const TRecipients& recipients, bool armor);
    ~TAgeWriter() override;
    TAgeWriter(const TAgeWriter&) = delete;
    TAgeWriter& operator=(const TAgeWriter&) = delete;

    std::size_t Read(Bytes) override { return 0; }
    std::size_t Write(ConstBytes data) override;
    void Finish();

private:
    class TSink;
    void SealChunk(bool last);
    std::unique_ptr<TSink> sink_;
    TSecretKey<32> payloadKey_;
    std::vector<std::uint8_t, TWipingAllocator<std::uint8_t>> chunk_;
    std::uint64_t counter_ = 0;
    bool finished_ = false;
};

// Where a reader's plaintext goes: each call gets one authenticated chunk.
using TPlainSink = std::function<void(ConstBytes)>;

// Reads an age file (binary or armored) from in and hands its plaintext
// to sink chunk by chunk; returns the number of plaintext bytes. EAge for
// anything wrong, said for a person: no identity fits, a bad passphrase,
// a corrupted header or payload, a truncated file, data after the end.
// A chunk reaches sink only once it has authenticated, but an earlier
// chunk may have gone out before a later one is found bad.
std::uint64_t Decrypt(TKC_stream& in, const TIdentities& identities, const TPlainSink& sink);

}  // namespace kestrune::cli::age
