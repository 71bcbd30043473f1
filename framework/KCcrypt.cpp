#include "KCcrypt.h"

#include <algorithm>
#include <array>
#include <utility>

namespace kestrune {

void TKC_hash::Init() {
    // Only a message in progress needs wiping: construction and Final leave
    // nothing behind, and a second wipe delays the first compression.
    if (Initialized) Wipe();
    Start();
    Initialized = true;
}

void TKC_hash::Update(ConstBytes data) {
    if (!Initialized) throw EKC_hash(messages::HashNotInitialized);
    Absorb(data);
}

void TKC_hash::Final(Bytes digest) {
    if (!Initialized) throw EKC_hash(messages::HashNotInitialized);
    if (digest.size() < DigestBytes()) throw EKC_hash(messages::DigestBufferTooSmall);
    Finish(digest.first(DigestBytes()));
    Wipe();
}

void TKC_hash::UpdateFromString(std::string_view text) {
    Update(ConstBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

namespace {

// Wipes the data that passed through a stream operation's buffer, also when
// the digest, the cipher or a stream raises.
struct WipeOnExit {
    Bytes bytes;
    ~WipeOnExit() { SecureFill(bytes.data(), bytes.size(), 0); }
};

}  // namespace

std::uint64_t TKC_hash::UpdateFromStream(TKC_stream& stream, std::uint64_t size) {
    alignas(64) std::array<std::uint8_t, StreamPieceSize> buffer;  // see StreamPieceSize
    return UpdateFromStream(stream, size, buffer);
}

std::uint64_t TKC_hash::UpdateFromStream(TKC_stream& stream, std::uint64_t size, Bytes buffer) {
    if (buffer.empty()) throw EKC_hash(messages::InvalidBufferSize);
    const WipeOnExit wipe{buffer};
    std::uint64_t total = 0;
    // Every piece is asked for even after a short read, as callers of the
    // stream rely on one read per piece; only a stream read to its end stops there.
    for (std::uint64_t left = size; left > 0;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        const std::size_t got = stream.Read(buffer.first(want));
        Update(ConstBytes(buffer).first(got));
        total += got;
        left -= want;
        if (size == StreamToEnd && got < want) break;
    }
    return total;
}

bool CheckDigest(TKC_hash& hash, std::string_view message, ConstBytes expected) {
    std::array<std::uint8_t, 64> digest{};
    hash.Init();
    hash.UpdateFromString(message);
    hash.Final(digest);
    return expected.size() == hash.DigestBytes() && std::equal(expected.begin(), expected.end(), digest.begin());
}

void TKC_cipher::CheckKeySize(ConstBytes key, std::uint32_t keyBits) const {
    const auto maxBits = static_cast<std::uint32_t>(GetMaxKeySize());
    if (keyBits == 0 || keyBits % 4 != 0 || keyBits > maxBits || keyBits < MinKeyBits() || key.size() < keyBits / 8)
        throw EKC_cipher(messages::InvalidKeySize);
}

void TKC_cipher::Init(ConstBytes key, std::uint32_t keyBits, ConstBytes /*iv*/) {
    if (Initialized) Wipe();
    CheckKeySize(key, keyBits);
    Initialized = true;
}

void TKC_cipher::InitFromPassword(std::string_view password, const TKC_hashclass& digestClass) {
    if (Initialized) Wipe();
    // Room for the largest digest, filled with 0xFF when made and when it goes.
    Wiped<std::array<std::uint8_t, 64>, 0xFF> digest;
    try {
        const std::int32_t hashBits = digestClass.GetHashSize();
        if (hashBits <= 0 || static_cast<std::size_t>(hashBits) > 8 * digest.size()) throw EKC_cipher(messages::InvalidKeySize);
        digestClass.DigestMessage(ConstBytes(reinterpret_cast<const std::uint8_t*>(password.data()), password.size()), digest);
        const std::int32_t keyBits = std::min(GetMaxKeySize(), hashBits);
        Init(ConstBytes(digest).first(static_cast<std::size_t>(hashBits) / 8), static_cast<std::uint32_t>(keyBits));
    } catch (...) {
        throw EKC_cipher(messages::DigestAllocation);
    }
}

std::size_t TKC_cipher::EncryptText(Bytes text, std::span<char> base64) {
    if (base64.size() < Base64EncodedSize(text.size())) throw EKC_cipher(messages::OutputBufferTooSmall);
    EncryptStringBytes(text);
    return EncodeBase64(text, base64);
}

std::size_t TKC_cipher::DecryptText(std::string_view base64, Bytes bytes) {
    if (bytes.size() < base64.size() / 4 * 3) throw EKC_cipher(messages::OutputBufferTooSmall);
    const std::size_t size = DecodeBase64(base64, bytes);
    DecryptStringBytes(bytes.first(size));
    return size;
}

namespace {

// The bytes of a string operation, wiped when they go, also when the cipher raises.
struct WipedString {
    std::string value;
    ~WipedString() { SecureFill(value.data(), value.size(), 0); }
};

}  // namespace

std::string TKC_cipher::EncryptString(std::string_view text) {
    WipedString bytes{std::string(text)};
    std::string base64(Base64EncodedSize(text.size()), '\0');
    EncryptText(Bytes(reinterpret_cast<std::uint8_t*>(bytes.value.data()), bytes.value.size()), base64);
    return base64;
}

// The bytes decrypted are the answer: wiped only if the cipher raises.
std::string TKC_cipher::DecryptString(std::string_view base64) {
    WipedString bytes{std::string(base64.size() / 4 * 3, '\0')};
    const std::size_t size =
        DecryptText(base64, Bytes(reinterpret_cast<std::uint8_t*>(bytes.value.data()), bytes.value.size()));
    bytes.value.resize(size);
    return std::exchange(bytes.value, {});
}

template <typename Transform>
std::uint64_t TKC_cipher::TransformStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size, Bytes buffer,
                                          Transform transform) {
    if (buffer.empty() || buffer.size() % StreamPieceSize != 0) throw EKC_cipher(messages::InvalidBufferSize);
    const WipeOnExit wipe{buffer};
    std::uint64_t total = 0;
    for (std::uint64_t left = size; left > 0;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        const std::size_t got = source.Read(buffer.first(want));
        total += got;
        // A piece at a time, as one read per piece would have handed them.
        std::size_t at = 0;
        do {
            const std::size_t piece = std::min(StreamPieceSize, got - at);
            transform(buffer.subspan(at, piece));
            at += piece;
        } while (at < got);
        dest.Write(buffer.first(got));
        left -= want;
        if (size == StreamToEnd && got < want) break;
    }
    return total;
}

std::uint64_t TKC_cipher::EncryptStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size) {
    alignas(64) std::array<std::uint8_t, StreamPieceSize> buffer;  // see StreamPieceSize
    return EncryptStream(source, dest, size, buffer);
}

std::uint64_t TKC_cipher::DecryptStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size) {
    alignas(64) std::array<std::uint8_t, StreamPieceSize> buffer;  // see StreamPieceSize
    return DecryptStream(source, dest, size, buffer);
}

std::uint64_t TKC_cipher::EncryptStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size, Bytes buffer) {
    return TransformStream(source, dest, size, buffer, [this](Bytes piece) { Encrypt(piece, piece); });
}

std::uint64_t TKC_cipher::DecryptStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size, Bytes buffer) {
    return TransformStream(source, dest, size, buffer, [this](Bytes piece) { Decrypt(piece, piece); });
}

}  // namespace kestrune
