// The common digest and cipher classes: life cycle, key set-up from a
// password, string and stream operations, and the framework's exceptions.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "KCbase64.h"
#include "KCbytes.h"

namespace kestrune {

// Base of every failure raised by the framework and the algorithms.
class EKC_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EKC_hash : public EKC_error {
public:
    using EKC_error::EKC_error;
};

class EKC_cipher : public EKC_error {
public:
    using EKC_error::EKC_error;
};

class EKC_blockcipher : public EKC_cipher {
public:
    using EKC_cipher::EKC_cipher;
};

namespace messages {
inline constexpr const char* HashNotInitialized = "Hash not initialized";
inline constexpr const char* InvalidKeySize = "Invalid key size";
inline constexpr const char* DigestAllocation = "Unable to allocate sufficient memory for hash digest";
inline constexpr const char* CipherNotInitialized = "Cipher not initialized";
// Misuse of sized buffers.
inline constexpr const char* DigestBufferTooSmall = "Digest buffer too small";
inline constexpr const char* BufferSizesDiffer = "Source and destination sizes differ";
inline constexpr const char* InvalidIVSize = "Invalid initial vector size";
inline constexpr const char* NotOneBlock = "Buffer is not one block";
inline constexpr const char* OutputBufferTooSmall = "Output buffer too small";
inline constexpr const char* InvalidBufferSize = "Stream buffer is not a whole number of pieces";
}  // namespace messages

// Allocator that wipes what it hands back, for buffers that hold key
// material or passwords.
template <typename T>
struct WipingAllocator {
    using value_type = T;
    WipingAllocator() noexcept = default;
    template <typename U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        SecureFill(p, n * sizeof(T), 0);
        std::allocator<T>{}.deallocate(p, n);
    }
    template <typename U>
    bool operator==(const WipingAllocator<U>&) const noexcept { return true; }
};

using SecureBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

// A source or destination of bytes. Read returns the count delivered (0 at
// the end of data); Write returns the count written.
class TKC_stream {
public:
    virtual ~TKC_stream() = default;
    virtual std::size_t Read(Bytes buffer) = 0;
    virtual std::size_t Write(ConstBytes buffer) = 0;
};

// Size of the work buffer through which streams are digested and encrypted.
// Such buffers are best aligned to a cache line: the kernel copies file data
// to and from a misaligned one about three times slower.
inline constexpr std::size_t StreamPieceSize = 8192;

// A size for the stream operations that reads until the stream delivers a
// short piece (its end), for streams whose length is not known in advance.
// The pieces are the same as for the stream's length given exactly.
inline constexpr std::uint64_t StreamToEnd = ~std::uint64_t{0};

// Who moves the bytes of a stream operation that encrypts through a
// buffer. One: the calling thread reads, encrypts and writes in turn. Two:
// the buffer is cut into StreamRuns runs (each a whole number of pieces);
// the calling thread encrypts them while a second thread writes them, and
// reads ahead when it has time, so that the kernel's copies overlap the
// cipher instead of adding to it. The source is then read from either
// thread, one read at a time, while the second thread writes to dest; each
// read asks for what One asks for with a buffer of one run. Where no thread
// can be started, Two works as One.
enum class StreamThreads { One, Two };
inline constexpr std::size_t StreamRuns = 3;

class TKC_hash;
class TKC_cipher;

// A digest class: answers the class-level queries and makes fresh instances.
struct TKC_hashclass {
    std::int32_t id;
    std::string_view algorithm;
    std::int32_t hashSize;  // bits
    bool (*SelfTest)();
    std::unique_ptr<TKC_hash> (*Create)();
    // The digest of one whole message into digest, through an instance
    // that lives (and is wiped) on the stack: a heap instance per short
    // message cost about as much as digesting it. Raises as Final does.
    void (*DigestMessage)(ConstBytes message, Bytes digest);

    std::int32_t GetId() const noexcept { return id; }
    std::string_view GetAlgorithm() const noexcept { return algorithm; }
    std::int32_t GetHashSize() const noexcept { return hashSize; }
};

class TKC_hash {
public:
    TKC_hash() = default;
    TKC_hash(const TKC_hash&) = delete;
    TKC_hash& operator=(const TKC_hash&) = delete;
    virtual ~TKC_hash() = default;

    virtual const TKC_hashclass& Class() const noexcept = 0;
    std::int32_t GetId() const noexcept { return Class().id; }
    std::string_view GetAlgorithm() const noexcept { return Class().algorithm; }
    std::int32_t GetHashSize() const noexcept { return Class().hashSize; }
    std::size_t DigestBytes() const noexcept { return static_cast<std::size_t>(GetHashSize() + 7) / 8; }

    // Starts a new message; restarts one in progress.
    void Init();
    // Absorbs bytes; raises "Hash not initialized" before looking at them.
    void Update(ConstBytes data);
    // Writes the digest (DigestBytes() bytes) to the start of digest, then
    // wipes; raises EKC_hash when digest is shorter.
    void Final(Bytes digest);
    // Clears the chaining state, counters and buffer; never raises.
    virtual void Wipe() noexcept { Initialized = false; }
    // The code path that compresses blocks now ("sha-ni", "avx2", ...);
    // "portable" for the plain C++ path, which every digest has.
    virtual std::string_view Provider() const noexcept { return "portable"; }

    void UpdateFromString(std::string_view text);
    // Feeds size bytes (or StreamToEnd) read from the stream in pieces of
    // StreamPieceSize; returns the number of bytes the stream delivered.
    std::uint64_t UpdateFromStream(TKC_stream& stream, std::uint64_t size);
    // The same through the caller's buffer, read a buffer at a time (fewer
    // system calls for a large file); the buffer is wiped.
    std::uint64_t UpdateFromStream(TKC_stream& stream, std::uint64_t size, Bytes buffer);

    bool IsInitialized() const noexcept { return Initialized; }

    // Init, Update and Final over one whole message, in an instance of
    // Digest that lives (and is wiped) on the stack: the instance's type is
    // known, so its calls are bound at compile time, and it needs no wipe
    // beyond its constructor's and destructor's.
    template <typename Digest>
    static void DigestWhole(ConstBytes message, Bytes digest) {
        if (digest.size() < static_cast<std::size_t>(Digest::ClassHashSize + 7) / 8)
            throw EKC_hash(messages::DigestBufferTooSmall);
        Digest hash;
        TKC_hash& base = hash;
        base.Start();
        base.Absorb(message);
        base.Finish(digest.first(static_cast<std::size_t>(Digest::ClassHashSize + 7) / 8));
    }

protected:
    virtual void Start() noexcept = 0;                  // load the initial state
    virtual void Absorb(ConstBytes data) noexcept = 0;  // feed bytes
    virtual void Finish(Bytes digest) noexcept = 0;     // pad and write the digest

private:
    bool Initialized = false;
};

template <typename Digest>
inline constexpr TKC_hashclass HashClassOf{
    Digest::ClassId, Digest::ClassAlgorithm, Digest::ClassHashSize, &Digest::SelfTest,
    [] { return std::unique_ptr<TKC_hash>(std::make_unique<Digest>()); },
    &TKC_hash::DigestWhole<Digest>};

// One self-test message: digests message with a fresh start and compares
// the result with expected.
bool CheckDigest(TKC_hash& hash, std::string_view message, ConstBytes expected);

// Class-level answers of a cipher class.
struct TKC_cipherclass {
    std::int32_t id;
    std::string_view algorithm;
    std::int32_t maxKeySize;  // bits
    std::int32_t blockSize;   // bits; -1 for a stream cipher
    bool (*SelfTest)();
    std::unique_ptr<TKC_cipher> (*Create)();

    std::int32_t GetId() const noexcept { return id; }
    std::string_view GetAlgorithm() const noexcept { return algorithm; }
    std::int32_t GetMaxKeySize() const noexcept { return maxKeySize; }
    std::int32_t GetBlockSize() const noexcept { return blockSize; }
};

// Made without value-initialization, which would zero the whole instance
// (kilobytes for the table-keyed ciphers) before its members fill their
// key schedules anyway: every member has an initializer or a constructor.
template <typename Cipher>
inline constexpr TKC_cipherclass CipherClassOf{
    Cipher::ClassId, Cipher::ClassAlgorithm, Cipher::ClassMaxKeySize, Cipher::ClassBlockSize, &Cipher::SelfTest,
    [] { return std::unique_ptr<TKC_cipher>(std::make_unique_for_overwrite<Cipher>()); }};

class TKC_cipher {
public:
    TKC_cipher() = default;
    TKC_cipher(const TKC_cipher&) = delete;
    TKC_cipher& operator=(const TKC_cipher&) = delete;
    virtual ~TKC_cipher() = default;

    virtual const TKC_cipherclass& Class() const noexcept = 0;
    std::int32_t GetId() const noexcept { return Class().id; }
    std::string_view GetAlgorithm() const noexcept { return Class().algorithm; }
    std::int32_t GetMaxKeySize() const noexcept { return Class().maxKeySize; }

    // Keys the cipher with the first keyBits bits of key. The base part wipes a
    // keyed cipher, checks the size and marks the cipher initialized.
    virtual void Init(ConstBytes key, std::uint32_t keyBits, ConstBytes iv = {});
    // Clears key material; the base part, which always runs last, clears the flag.
    virtual void Wipe() noexcept { Initialized = false; }
    virtual void Reset() {}
    // The code path this instance encrypts with ("aesni", ...), as chosen
    // when keyed, or as keying now would choose; "portable" for plain C++.
    virtual std::string_view Provider() const noexcept { return "portable"; }
    // Source and destination have the same size (else EKC_cipher) and may be
    // the same buffer.
    virtual void Encrypt(ConstBytes source, Bytes dest) = 0;
    virtual void Decrypt(ConstBytes source, Bytes dest) = 0;
    // Encrypts the bytes of text and returns them as Base64 text.
    virtual std::string EncryptString(std::string_view text);
    // Decodes Base64 text and returns the decrypted bytes.
    virtual std::string DecryptString(std::string_view base64);
    // The same over buffers the caller owns and wipes, which keeps a text
    // off the heap: EncryptText encrypts text in place and writes its
    // Base64 (Base64EncodedSize(text.size()) characters) to base64;
    // DecryptText decodes base64 into bytes (room for base64.size() / 4 * 3;
    // it may be base64's own memory) and decrypts them there. Both return
    // the count written, and raise EKC_cipher, changing nothing, when the
    // output has no room.
    std::size_t EncryptText(Bytes text, std::span<char> base64);
    std::size_t DecryptText(std::string_view base64, Bytes bytes);

    // Keys the cipher with the digest of the password, cut to the cipher's largest key.
    void InitFromPassword(std::string_view password, const TKC_hashclass& digestClass);
    // Encrypt or decrypt size bytes (or StreamToEnd) from source to dest in
    // pieces of StreamPieceSize; returns the number of bytes the source delivered.
    std::uint64_t EncryptStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size);
    std::uint64_t DecryptStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size);
    // The same through the caller's buffer, a whole number of pieces long
    // (of StreamRuns runs of pieces with StreamThreads::Two; else
    // InvalidBufferSize), read and written a buffer (with Two, a run) at a
    // time: a large file takes far fewer system calls. The cipher still
    // sees every piece as above, so the bytes written are the same for a
    // source that fills every read but its last (a regular file). The
    // buffer is wiped.
    std::uint64_t EncryptStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size, Bytes buffer,
                                StreamThreads threads = StreamThreads::One);
    std::uint64_t DecryptStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size, Bytes buffer,
                                StreamThreads threads = StreamThreads::One);

    bool IsInitialized() const noexcept { return Initialized; }

protected:
    // The key-size rule of Init: raises "Invalid key size" unless keyBits is
    // a positive multiple of 4 within [MinKeyBits, GetMaxKeySize] and key
    // holds its whole bytes.
    void CheckKeySize(ConstBytes key, std::uint32_t keyBits) const;
    // Smallest key, in bits, from which the cipher can build a schedule; the
    // base rule alone would admit 4-bit keys that hold no whole byte.
    virtual std::uint32_t MinKeyBits() const noexcept { return 4; }

    // What the string operations do to the bytes, in place: Encrypt and
    // Decrypt here.
    virtual void EncryptStringBytes(Bytes bytes) { Encrypt(bytes, bytes); }
    virtual void DecryptStringBytes(Bytes bytes) { Decrypt(bytes, bytes); }

private:
    template <typename Transform>
    std::uint64_t TransformStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size, Bytes buffer,
                                  StreamThreads threads, Transform transform);

    bool Initialized = false;
};

}  // namespace kestrune
