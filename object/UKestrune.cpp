#include "UKestrune.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "KCcatalogue.h"
#include "KCcodepage.h"
#include "KCfiles.h"
#include "KCpassword.h"
#include "framework/KCblockciphers.h"

namespace kestrune {
namespace {

// The two hex digits of every byte value.
constexpr std::array<std::array<char16_t, 2>, 256> MakeHexPairs() {
    constexpr char16_t Digits[] = u"0123456789ABCDEF";
    std::array<std::array<char16_t, 2>, 256> pairs{};
    for (std::size_t b = 0; b < pairs.size(); ++b) pairs[b] = {Digits[b >> 4], Digits[b & 15]};
    return pairs;
}
constexpr auto HexPairs = MakeHexPairs();

#if defined(__SSE2__)
// The hex digits of bytes.size() bytes (8 or 4): each byte split into its
// two nibbles in order, a nibble above 9 moved on to the letters, and the
// digits widened to UTF-16 in one or two 16-byte stores.
void HexDigits(ConstBytes bytes, char16_t* out) noexcept {
    std::int32_t four = 0;
    if (bytes.size() == 4) std::memcpy(&four, bytes.data(), 4);
    const __m128i value =
        bytes.size() == 8 ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes.data())) : _mm_cvtsi32_si128(four);
    const __m128i low4 = _mm_set1_epi8(15);
    const __m128i nibbles = _mm_unpacklo_epi8(_mm_and_si128(_mm_srli_epi16(value, 4), low4), _mm_and_si128(value, low4));
    const __m128i letters = _mm_and_si128(_mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9)), _mm_set1_epi8('A' - '0' - 10));
    const __m128i digits = _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')), letters);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(digits, _mm_setzero_si128()));
    if (bytes.size() == 8) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(digits, _mm_setzero_si128()));
}
#endif

// Written straight into the string's storage: a copy from a local piece
// would load what was just stored in other widths, which waits for the
// stores. Digest sizes are multiples of 4 bytes; the pair table takes any
// bytes left over.
std::u16string DigestText(ConstBytes digest) {
    std::u16string text(2 * digest.size(), u'\0');
    char16_t* const out = text.data();
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; digest.size() - i >= 8; i += 8) HexDigits(digest.subspan(i, 8), out + 2 * i);
    if (digest.size() - i >= 4) {
        HexDigits(digest.subspan(i, 4), out + 2 * i);
        i += 4;
    }
#endif
    for (; i < digest.size(); ++i) std::memcpy(out + 2 * i, HexPairs[digest[i]].data(), 2 * sizeof(char16_t));
    return text;
}

// Texts and passwords converted for the digest or cipher: in a local
// buffer when they fit, as the short texts of most calls do (no heap
// block to zero, fill and free per call), else in a heap string; wiped
// when they go.
class AnsiSecret {
public:
    explicit AnsiSecret(std::u16string_view text) {
        try {
            if (const auto size = ToAnsi(text, local)) {
                bytes = std::span(local).first(*size);
                return;
            }
        } catch (...) {
            // A converter that failed part way may have written anything.
            SecureFill(local.data(), local.size(), 0);
            throw;
        }
        heap = ToAnsi(text);
        bytes = heap;
    }
    ~AnsiSecret() { SecureFill(bytes.data(), bytes.size(), 0); }
    AnsiSecret(const AnsiSecret&) = delete;
    AnsiSecret& operator=(const AnsiSecret&) = delete;

    std::string_view View() const noexcept { return {bytes.data(), bytes.size()}; }
    ConstBytes Data() const noexcept { return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}; }
    // For a cipher that works in place: what it leaves there is wiped too.
    Bytes Mutable() noexcept { return {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()}; }

private:
    // Room for the texts of most calls; not initialised, only what is
    // written is wiped.
    std::array<char, 1024> local;
    std::string heap;
    std::span<char> bytes;
};

// An unusable code-page setting fails the call: absorbed, it would turn
// every answer into "" with a success status.
void CheckCodePage() { AnsiCodePage(); }

}  // namespace

void TASPObject::OnStartPage(IKC_pagecontext* context) {
    if (context == nullptr) throw EKestrune("Invalid pointer", status::E_POINTER_);
    auto scripting = context->QueryScriptingContext();
    if (scripting == nullptr) throw EKestrune("No such interface supported", status::E_NOINTERFACE_);
    ScriptingContext = std::move(scripting);
}

void TKestrune::OnStartPage(IKC_pagecontext* context) {
    FCipherAlgorithm = 0;
    FHashAlgorithm = 0;
    FCipherMode = 0;
    TASPObject::OnStartPage(context);
}

void TKestrune::SetCipherMode(std::int32_t value) noexcept {
    if (IsCipherMode(value)) FCipherMode = static_cast<std::uint8_t>(value);
}

std::int32_t TKestrune::MaxKeySize() const { return CipherClassFor(FCipherAlgorithm).GetMaxKeySize(); }

std::int32_t TKestrune::HashSize(std::int32_t algorithm) const { return DigestClassFor(DigestCode(algorithm)).GetHashSize(); }

std::u16string TKestrune::HashString(std::u16string_view inputStr, std::int32_t algorithm) const {
    const TKC_hashclass& digestClass = DigestClassFor(DigestCode(algorithm));
    CheckCodePage();
    try {
        std::array<std::uint8_t, 64> digest{};
        const AnsiSecret text(inputStr);
        digestClass.DigestMessage(text.Data(), digest);
        return DigestText(ConstBytes(digest).first(static_cast<std::size_t>(digestClass.GetHashSize() + 7) / 8));
    } catch (const std::exception&) {
        return {};
    }
}

namespace {

// A regular file is read (and its result written) in runs of pieces, which
// take the kernel a quarter less time to copy than single pieces; a large
// one is encrypted on this thread while a second thread writes the result
// (and reads ahead when it has time). A stream keeps one read per piece on this
// thread, so that what arrives goes on without waiting for a whole run.
// Aligned to a cache line, as the stream operations' own buffers are: the
// kernel copies to and from a misaligned one about three times slower.
constexpr std::uint64_t PiecesPerRun = 16;
struct alignas(64) FileRun {
    std::array<std::uint8_t, StreamRuns * PiecesPerRun * StreamPieceSize> bytes;
};

// From this size on, the copies overlapped outweigh starting a thread. A
// digest gains nothing from a second thread: reading costs little beside it,
// and what one thread reads ahead reaches the other's cache late.
constexpr std::uint64_t OverlapFrom = 1 << 20;

struct FileRuns {
    Bytes buffer;
    StreamThreads threads = StreamThreads::One;
};

// No longer than the file in whole pieces, so that a small file is not
// charged for filling and wiping the whole run.
FileRuns RunsFor(const TKC_sourcefile& source, FileRun& run, StreamThreads threads) noexcept {
    const Bytes bytes(run.bytes);
    if (source.IsStream()) return {bytes.first(StreamPieceSize)};
    if (threads == StreamThreads::Two && source.Size() >= OverlapFrom) return {bytes, StreamThreads::Two};
    const std::uint64_t pieces = source.Size() / StreamPieceSize + (source.Size() % StreamPieceSize != 0);
    const std::uint64_t take = std::clamp<std::uint64_t>(pieces, 1, PiecesPerRun);
    return {bytes.first(static_cast<std::size_t>(take * StreamPieceSize))};
}

// A regular file is read to its end too, and must deliver at least its
// size: fewer bytes means a read error, not a shorter file. A pseudo file
// whose size says 0 gives its whole content.
FileStatus ReadWhole(TKC_sourcefile& source, std::uint64_t delivered) noexcept {
    if (!source.IsStream() && delivered < source.Size()) source.FailShortRead();
    return source.Status();
}

DigestOutcome DigestOf(TKC_hash& hash, TKC_sourcefile& source) {
    std::array<std::uint8_t, 64> digest{};
    hash.Init();
    const auto run = std::make_unique_for_overwrite<FileRun>();  // written before read, wiped after
    const Bytes buffer = RunsFor(source, *run, StreamThreads::One).buffer;
    if (FileStatus read = ReadWhole(source, hash.UpdateFromStream(source, StreamToEnd, buffer)); !read.Ok())
        return {{}, read};
    hash.Final(digest);
    return {DigestText(ConstBytes(digest).first(hash.DigestBytes())), {}};
}

// The digest or cipher failed, not the files.
constexpr FileStatus OperationFailed{FileFault::OperationFailed, FileRole::Source, 0};

}  // namespace

std::u16string TKestrune::HashFile(std::u16string_view filename, std::int32_t algorithm) const {
    auto hash = DigestClassFor(DigestCode(algorithm)).Create();
    try {
        auto file = TKC_sourcefile::Open(filename).file;
        if (!file) return {};
        return DigestOf(*hash, *file).digest;
    } catch (const std::exception&) {
        return {};
    }
}

DigestOutcome TKestrune::HashSource(TKC_sourcefile& source, std::int32_t algorithm) const {
    auto hash = DigestClassFor(DigestCode(algorithm)).Create();
    try {
        return DigestOf(*hash, source);
    } catch (const std::exception&) {
        return {{}, OperationFailed};
    }
}

namespace {

// Creation failures propagate (a failed call); everything after is absorbed.
std::unique_ptr<TKC_cipher> PrepareCipher(std::int32_t cipherCode, std::uint8_t mode, std::int32_t digestCode,
                                          const TKC_hashclass*& digestClass) {
    const TKC_cipherclass& cipherClass = CipherClassFor(cipherCode);
    auto cipher = cipherClass.Create();
    digestClass = &DigestClassFor(digestCode);
    // Every class with a block size makes a block cipher: the class says so
    // without the walk through the class hierarchy that a dynamic_cast makes
    // on every call.
    if (cipherClass.GetBlockSize() > 0) static_cast<TKC_blockcipher&>(*cipher).CipherMode = static_cast<TKC_ciphermode>(mode);
    return cipher;
}

// The text encrypted where it was converted, and its Base64 written to a
// local buffer when it fits (the ciphertext needs no wipe).
std::u16string EncryptedText(TKC_cipher& cipher, AnsiSecret& text) {
    std::array<char, 2048> local;
    std::string heap;
    std::span<char> base64 = local;
    if (const std::size_t size = Base64EncodedSize(text.Data().size()); size > local.size()) {
        heap.resize(size);
        base64 = heap;
    }
    return FromAnsi(std::string_view(base64.data(), cipher.EncryptText(text.Mutable(), base64)));
}

// Decoded and decrypted where the Base64 was converted, and wiped there.
std::u16string DecryptedText(TKC_cipher& cipher, AnsiSecret& base64) {
    const std::size_t size = cipher.DecryptText(base64.View(), base64.Mutable());
    return FromAnsi(base64.View().substr(0, size));
}

}  // namespace

std::u16string TKestrune::TransformString(std::u16string_view inputStr, std::u16string_view password,
                                          std::int32_t algorithm, bool encrypt) const {
    const TKC_hashclass* digestClass = nullptr;
    auto cipher = PrepareCipher(CipherCode(algorithm), FCipherMode, FHashAlgorithm, digestClass);
    CheckCodePage();
    try {
        const AnsiSecret key(password);
        cipher->InitFromPassword(key.View(), *digestClass);
        AnsiSecret input(inputStr);
        std::u16string result = encrypt ? EncryptedText(*cipher, input) : DecryptedText(*cipher, input);
        cipher->Wipe();
        return result;
    } catch (const std::exception&) {
        return {};
    }
}

std::u16string TKestrune::EncryptString(std::u16string_view inputStr, std::u16string_view password,
                                        std::int32_t algorithm) const {
    return TransformString(inputStr, password, algorithm, true);
}

std::u16string TKestrune::DecryptString(std::u16string_view inputStr, std::u16string_view password,
                                        std::int32_t algorithm) const {
    return TransformString(inputStr, password, algorithm, false);
}

namespace {

FileStatus RunTransform(TKC_cipher& cipher, const TKC_hashclass& digestClass, TKC_sourcefile& source,
                        TKC_destinationfile& dest, std::u16string_view password, bool encrypt) {
    const AnsiSecret key(password);
    cipher.InitFromPassword(key.View(), digestClass);
    const auto run = std::make_unique_for_overwrite<FileRun>();  // written before read, wiped after
    const FileRuns runs = RunsFor(source, *run, StreamThreads::Two);
    // The whole file, also beyond 4 GiB.
    const std::uint64_t done = encrypt ? cipher.EncryptStream(source, dest, StreamToEnd, runs.buffer, runs.threads)
                                       : cipher.DecryptStream(source, dest, StreamToEnd, runs.buffer, runs.threads);
    cipher.Wipe();
    if (FileStatus read = ReadWhole(source, done); !read.Ok()) return read;
    if (dest.Commit()) return {};
    return dest.Failed() ? dest.Status() : FileStatus::Of(FileFault::WriteError, FileRole::Destination);
}

}  // namespace

std::int32_t TKestrune::TransformFile(std::u16string_view sourceFilename, std::u16string_view destFilename,
                                      std::u16string_view password, std::int32_t algorithm, bool encrypt) const {
    const TKC_hashclass* digestClass = nullptr;
    auto cipher = PrepareCipher(CipherCode(algorithm), FCipherMode, FHashAlgorithm, digestClass);
    CheckCodePage();
    try {
        auto source = TKC_sourcefile::Open(sourceFilename).file;
        if (!source) return -1;
        auto dest = TKC_destinationfile::Create(destFilename, *source).file;
        if (!dest) return -1;
        return RunTransform(*cipher, *digestClass, *source, *dest, password, encrypt).Ok() ? 0 : -1;
    } catch (const std::exception&) {
        return -1;
    }
}

FileStatus TKestrune::TransformSource(TKC_sourcefile& source, TKC_destinationfile& dest, std::u16string_view password,
                                      std::int32_t algorithm, bool encrypt) const {
    const TKC_hashclass* digestClass = nullptr;
    auto cipher = PrepareCipher(CipherCode(algorithm), FCipherMode, FHashAlgorithm, digestClass);
    CheckCodePage();
    try {
        return RunTransform(*cipher, *digestClass, source, dest, password, encrypt);
    } catch (const std::exception&) {
        return OperationFailed;
    }
}

FileStatus TKestrune::EncryptSource(TKC_sourcefile& source, TKC_destinationfile& dest, std::u16string_view password,
                                    std::int32_t algorithm) const {
    return TransformSource(source, dest, password, algorithm, true);
}

FileStatus TKestrune::DecryptSource(TKC_sourcefile& source, TKC_destinationfile& dest, std::u16string_view password,
                                    std::int32_t algorithm) const {
    return TransformSource(source, dest, password, algorithm, false);
}

std::int32_t TKestrune::EncryptFile(std::u16string_view sourceFilename, std::u16string_view destFilename,
                                    std::u16string_view password, std::int32_t algorithm) const {
    return TransformFile(sourceFilename, destFilename, password, algorithm, true);
}

std::int32_t TKestrune::DecryptFile(std::u16string_view sourceFilename, std::u16string_view destFilename,
                                    std::u16string_view password, std::int32_t algorithm) const {
    return TransformFile(sourceFilename, destFilename, password, algorithm, false);
}

std::u16string TKestrune::GenPassword(std::int32_t maxLength, std::u16string_view style) const {
    const std::size_t keep = maxLength <= 0 ? 0 : std::min<std::size_t>(style.size(), static_cast<std::size_t>(maxLength));
    return FromAnsi(GeneratePassword(maxLength, ToAnsi(style.substr(0, keep))));
}

}  // namespace kestrune
