#include "KCcrypt.h"

#include <algorithm>
#include <array>

namespace kestrune {

void TKC_hash::Init() {
    Wipe();
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

std::uint64_t TKC_hash::UpdateFromStream(TKC_stream& stream, std::uint64_t size) {
    std::array<std::uint8_t, StreamPieceSize> buffer;
    std::uint64_t total = 0;
    // Every piece is asked for even after a short read, as callers of the
    // stream rely on one read per piece; only a stream read to its end stops there.
    for (std::uint64_t left = size; left > 0;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, StreamPieceSize));
        const std::size_t got = stream.Read(Bytes(buffer).first(want));
        Update(ConstBytes(buffer).first(got));
        total += got;
        left -= want;
        if (size == StreamToEnd && got < want) break;
    }
    SecureFill(buffer, 0);
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

std::string TKC_cipher::EncryptString(std::string_view text) {
    return TransformToBase64(text, [this](Bytes bytes) { Encrypt(bytes, bytes); });
}

std::string TKC_cipher::DecryptString(std::string_view base64) {
    return TransformFromBase64(base64, [this](Bytes bytes) { Decrypt(bytes, bytes); });
}

template <typename Transform>
std::uint64_t TKC_cipher::TransformStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size, Transform transform) {
    std::array<std::uint8_t, StreamPieceSize> buffer;
    std::uint64_t total = 0;
    for (std::uint64_t left = size; left > 0;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, StreamPieceSize));
        const std::size_t got = source.Read(Bytes(buffer).first(want));
        total += got;
        const auto piece = Bytes(buffer).first(got);
        transform(piece);
        dest.Write(piece);
        left -= want;
        if (size == StreamToEnd && got < want) break;
    }
    SecureFill(buffer, 0);
    return total;
}

std::uint64_t TKC_cipher::EncryptStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size) {
    return TransformStream(source, dest, size, [this](Bytes piece) { Encrypt(piece, piece); });
}

std::uint64_t TKC_cipher::DecryptStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size) {
    return TransformStream(source, dest, size, [this](Bytes piece) { Decrypt(piece, piece); });
}

}  // namespace kestrune
