// The reference libraries behind one small interface: each maker returns
// an empty function where the library lacks the algorithm or the mode.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace bench {

enum class Mode { CBC, CFB8, CFBblock, OFB, CTR, Stream };

// Transforms n bytes in place, carrying the chaining state to the next call.
using CipherOp = std::function<void(std::uint8_t* data, std::size_t n)>;
// Digests n bytes into digest, from a fresh start each call.
using DigestOp = std::function<void(const std::uint8_t* data, std::size_t n, std::uint8_t* digest)>;

using Key = std::span<const std::uint8_t>;

// A keyed context: run transforms, rekey sets a new key (of the same
// length) and IV on the same context, as a caller keying once per message
// would.
struct CipherHandle {
    CipherOp run;
    std::function<void(Key key, Key iv)> rekey;
    explicit operator bool() const noexcept { return static_cast<bool>(run); }
};

struct CipherRequest {
    Mode mode;
    bool decrypting;
    Key key;
    Key iv;  // one block; empty for a stream cipher
};

// Names as each library spells them; nullptr (0 for libgcrypt) where absent.
struct CipherNames {
    const char* openssl;   // EVP name without the mode: "AES-128", "BF", "DES-EDE3"
    int gcrypt;            // GCRY_CIPHER_*
    const char* botan;     // "AES-128", "Blowfish"
    const char* cryptopp;  // class name: "AES", "Blowfish", "DES_EDE3"
    int rounds = 0;        // where the library's default differs from ours
    int effectiveBits = 0; // RC2's effective key length
};

struct DigestNames {
    const char* openssl;
    int gcrypt;
    int gcryptOther;  // a second variant to try (Tiger's paddings)
    const char* botan;
    const char* cryptopp;
};

void InitReferences();

CipherHandle OpenSslCipher(const CipherNames& n, const CipherRequest& r);
CipherHandle GcryptCipher(const CipherNames& n, const CipherRequest& r);
CipherHandle BotanCipher(const CipherNames& n, const CipherRequest& r);
CipherHandle CryptoppCipher(const CipherNames& n, const CipherRequest& r);

// Base64 with padding, no line breaks (OpenSSL's encoder: libgcrypt has none).
std::string Base64(std::span<const std::uint8_t> bytes);

DigestOp OpenSslDigest(const DigestNames& n);
DigestOp GcryptDigest(int algo);
DigestOp BotanDigest(const DigestNames& n);
DigestOp CryptoppDigest(const DigestNames& n);

}  // namespace bench
