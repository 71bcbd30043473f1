#include "KCcrypt.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
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

// Reads size bytes (or StreamToEnd) in runs of run.size(), hands each run
// to work and then writes it to dest, where there is one; returns the
// bytes the source delivered. Every run is asked for even after a short
// read, as callers of a stream rely on the same reads for the same size;
// only a stream read to its end stops there.
template <typename Work>
std::uint64_t SerialRuns(TKC_stream& source, TKC_stream* dest, std::uint64_t size, Bytes run, Work& work) {
    std::uint64_t total = 0;
    for (std::uint64_t left = size; left > 0;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, run.size()));
        const std::size_t got = source.Read(run.first(want));
        total += got;
        work(run.first(got));
        if (dest != nullptr) dest->Write(run.first(got));
        left -= want;
        if (size == StreamToEnd && got < want) break;
    }
    return total;
}

// The same reads, work and writes on two threads. The calling thread works
// the runs in order; a second thread writes each worked run, in order; and
// whichever of them is free reads the next run into a free slot of the
// buffer (one read at a time, in order). A fast cipher keeps the second
// thread busy writing, and the calling thread reads for itself, which keeps
// each run in its cache from the read to the work; a slow one leaves the
// second thread time to read ahead as well.
class SharedRuns {
public:
    SharedRuns(TKC_stream& source, TKC_stream& dest, std::uint64_t size, Bytes buffer) noexcept
        : source_(source), dest_(dest), size_(size), buffer_(buffer), run_(buffer.size() / StreamRuns), left_(size),
          ended_(size == 0) {}
    SharedRuns(const SharedRuns&) = delete;
    SharedRuns& operator=(const SharedRuns&) = delete;
    ~SharedRuns() { Finish(); }

    // False when no thread could be started; nothing was read then.
    bool Start() noexcept {
        try {
            writer_ = std::thread([this] { WriteRuns(); });
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }

    template <typename Work>
    std::uint64_t Each(Work& work) {
        for (std::uint64_t k = 0;; ++k) {
            std::size_t got = 0;
            {
                std::unique_lock lock(mutex_);
                while (read_ <= k && !(ended_ && !reading_)) {
                    if (CanRead())
                        ReadNext(lock);
                    else
                        changed_.wait(lock);
                }
                if (read_ <= k) break;
                got = got_[k % StreamRuns];
            }
            work(Slot(k).first(got));
            {
                const std::lock_guard lock(mutex_);
                worked_ = k + 1;
            }
            changed_.notify_all();
        }
        Finish();
        if (failure_) std::rethrow_exception(failure_);
        return delivered_;
    }

private:
    Bytes Slot(std::uint64_t k) const noexcept { return buffer_.subspan(k % StreamRuns * run_, run_); }

    // Whether the next run may be read now: nobody reads, the source has
    // more, and the run that last used its slot is written.
    bool CanRead() const noexcept { return !reading_ && !ended_ && written_ + StreamRuns > next_; }

    // Reads the next run, without the lock meanwhile. A failure ends the
    // reading; the caller raises it once the second thread has ended.
    void ReadNext(std::unique_lock<std::mutex>& lock) noexcept {
        const std::uint64_t k = next_++;
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left_, run_));
        reading_ = true;
        lock.unlock();
        std::size_t got = 0;
        std::exception_ptr failure;
        try {
            got = source_.Read(Slot(k).first(want));
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        reading_ = false;
        if (failure) {
            Fail(failure);
        } else {
            got_[k % StreamRuns] = got;
            delivered_ += got;
            read_ = k + 1;
            left_ -= want;
            // Already ended, when a write failed meanwhile.
            if (left_ == 0 || (size_ == StreamToEnd && got < want)) ended_ = true;
        }
        changed_.notify_all();
    }

    void Fail(std::exception_ptr failure) noexcept {
        if (!failure_) failure_ = std::move(failure);
        ended_ = true;
    }

    // Writes every worked run, and reads when there is nothing to write,
    // until the work has ended; a failed write ends both.
    void WriteRuns() noexcept {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return written_ < worked_ || CanRead() || finished_; });
            if (written_ < worked_) {
                const std::uint64_t j = written_;
                const std::size_t got = got_[j % StreamRuns];
                lock.unlock();
                try {
                    dest_.Write(Slot(j).first(got));
                } catch (...) {
                    lock.lock();
                    Fail(std::current_exception());
                    changed_.notify_all();
                    return;
                }
                lock.lock();
                written_ = j + 1;
                changed_.notify_all();
            } else if (finished_) {
                return;
            } else {
                ReadNext(lock);
            }
        }
    }

    // Lets the second thread write what was worked and end, and waits for
    // it: also when the work raised.
    void Finish() noexcept {
        {
            const std::lock_guard lock(mutex_);
            finished_ = true;
        }
        changed_.notify_all();
        if (writer_.joinable()) writer_.join();
    }

    TKC_stream& source_;
    TKC_stream& dest_;
    const std::uint64_t size_;
    const Bytes buffer_;
    const std::size_t run_;

    // All below under mutex_.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t left_;                         // bytes still to ask for
    std::uint64_t delivered_ = 0;                // bytes the source gave
    std::array<std::size_t, StreamRuns> got_{};  // bytes read into each slot
    std::uint64_t next_ = 0;                     // runs read or being read
    std::uint64_t read_ = 0;                     // runs read
    std::uint64_t worked_ = 0;
    std::uint64_t written_ = 0;
    bool reading_ = false;
    bool ended_;             // no run after the last read
    bool finished_ = false;  // the work ended, or raised
    std::exception_ptr failure_;

    std::thread writer_;
};

// Whether buffer can be cut into pieces, and into runs of them as threads
// asks.
bool WholePieces(Bytes buffer, StreamThreads threads) noexcept {
    const std::size_t runs = threads == StreamThreads::Two ? StreamRuns : 1;
    return !buffer.empty() && buffer.size() % (runs * StreamPieceSize) == 0;
}

}  // namespace

std::uint64_t TKC_hash::UpdateFromStream(TKC_stream& stream, std::uint64_t size) {
    alignas(64) std::array<std::uint8_t, StreamPieceSize> buffer;  // see StreamPieceSize
    return UpdateFromStream(stream, size, buffer);
}

std::uint64_t TKC_hash::UpdateFromStream(TKC_stream& stream, std::uint64_t size, Bytes buffer) {
    if (buffer.empty()) throw EKC_hash(messages::InvalidBufferSize);
    const WipeOnExit wipe{buffer};
    auto update = [this](Bytes run) { Update(run); };
    return SerialRuns(stream, nullptr, size, buffer, update);
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
                                          StreamThreads threads, Transform transform) {
    if (!WholePieces(buffer, threads)) throw EKC_cipher(messages::InvalidBufferSize);
    const WipeOnExit wipe{buffer};
    // A piece at a time, as one read per piece would have handed them.
    auto pieces = [&](Bytes run) {
        std::size_t at = 0;
        do {
            const std::size_t piece = std::min(StreamPieceSize, run.size() - at);
            transform(run.subspan(at, piece));
            at += piece;
        } while (at < run.size());
    };
    if (threads == StreamThreads::Two) {
        SharedRuns runs(source, dest, size, buffer);
        if (runs.Start()) return runs.Each(pieces);
        buffer = buffer.first(buffer.size() / StreamRuns);
    }
    return SerialRuns(source, &dest, size, buffer, pieces);
}

std::uint64_t TKC_cipher::EncryptStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size) {
    alignas(64) std::array<std::uint8_t, StreamPieceSize> buffer;  // see StreamPieceSize
    return EncryptStream(source, dest, size, buffer);
}

std::uint64_t TKC_cipher::DecryptStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size) {
    alignas(64) std::array<std::uint8_t, StreamPieceSize> buffer;  // see StreamPieceSize
    return DecryptStream(source, dest, size, buffer);
}

std::uint64_t TKC_cipher::EncryptStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size, Bytes buffer,
                                        StreamThreads threads) {
    return TransformStream(source, dest, size, buffer, threads, [this](Bytes piece) { Encrypt(piece, piece); });
}

std::uint64_t TKC_cipher::DecryptStream(TKC_stream& source, TKC_stream& dest, std::uint64_t size, Bytes buffer,
                                        StreamThreads threads) {
    return TransformStream(source, dest, size, buffer, threads, [this](Bytes piece) { Decrypt(piece, piece); });
}

}  // namespace kestrune
