// The scriptable crypto object: three selections, the hashing, encryption
// and password operations, and the page hooks. Text crosses its boundary as
// UTF-16, as automation strings do.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "KCfiles.h"

namespace kestrune {

// HashSource's answer: the digest text, or empty with the reason.
struct DigestOutcome {
    std::u16string digest;
    FileStatus status;
};

// Status codes a failed call carries to the automation boundary.
namespace status {
inline constexpr std::int32_t E_UNEXPECTED_ = static_cast<std::int32_t>(0x8000FFFFu);
inline constexpr std::int32_t E_NOINTERFACE_ = static_cast<std::int32_t>(0x80004002u);
inline constexpr std::int32_t E_POINTER_ = static_cast<std::int32_t>(0x80004003u);
}  // namespace status

// A failure outside an operation's own handling: the call fails with Status
// and the message as its description.
class EKestrune : public std::runtime_error {
public:
    explicit EKestrune(const std::string& message, std::int32_t statusCode = status::E_UNEXPECTED_)
        : std::runtime_error(message), Status(statusCode) {}
    std::int32_t Status;
};

// What the host hands to OnStartPage. It may or may not offer the
// scripting-context interface.
class IKC_pagecontext {
public:
    virtual ~IKC_pagecontext() = default;
    // The scripting context, to be kept for the page; null if not offered.
    virtual std::shared_ptr<void> QueryScriptingContext() = 0;
};

// Page-object base: keeps the host's scripting context between the page hooks.
class TASPObject {
public:
    void OnStartPage(IKC_pagecontext* context);
    void OnEndPage() noexcept { ScriptingContext.reset(); }
    bool HasScriptingContext() const noexcept { return ScriptingContext != nullptr; }

private:
    std::shared_ptr<void> ScriptingContext;
};

class TKestrune : public TASPObject {
public:
    std::int32_t GetCipherAlgorithm() const noexcept { return FCipherAlgorithm; }
    void SetCipherAlgorithm(std::int32_t value) noexcept { FCipherAlgorithm = value; }
    std::int32_t GetHashAlgorithm() const noexcept { return FHashAlgorithm; }
    void SetHashAlgorithm(std::int32_t value) noexcept { FHashAlgorithm = value; }
    std::int32_t GetCipherMode() const noexcept { return FCipherMode; }
    // Values outside 0 to 4 are ignored and the previous mode stays.
    void SetCipherMode(std::int32_t value) noexcept;
    // Largest key in bits of the cipher that CipherAlgorithm selects.
    std::int32_t MaxKeySize() const;

    // Resets the three selections, then keeps the context (fails if it offers none).
    void OnStartPage(IKC_pagecontext* context);

    // An Algorithm of -1 stands for the corresponding property.
    std::u16string HashString(std::u16string_view inputStr, std::int32_t algorithm = -1) const;
    std::u16string HashFile(std::u16string_view filename, std::int32_t algorithm = -1) const;
    std::int32_t HashSize(std::int32_t algorithm = -1) const;
    std::u16string EncryptString(std::u16string_view inputStr, std::u16string_view password,
                                 std::int32_t algorithm = -1) const;
    std::u16string DecryptString(std::u16string_view inputStr, std::u16string_view password,
                                 std::int32_t algorithm = -1) const;
    // 0 on success, -1 on failure; a failure leaves no partial destination,
    // except where the destination must be written in place (TKC_destinationfile::Create).
    std::int32_t EncryptFile(std::u16string_view sourceFilename, std::u16string_view destFilename,
                             std::u16string_view password, std::int32_t algorithm = -1) const;
    std::int32_t DecryptFile(std::u16string_view sourceFilename, std::u16string_view destFilename,
                             std::u16string_view password, std::int32_t algorithm = -1) const;
    std::u16string GenPassword(std::int32_t maxLength = 8, std::u16string_view style = u"") const;

    // The file operations over files already open: the members above open
    // regular files by name, the tool also standard input and output and
    // other streams. Same results, same bytes; a failure comes with its
    // reason, where the members above only say "" or -1.
    DigestOutcome HashSource(TKC_sourcefile& source, std::int32_t algorithm = -1) const;
    FileStatus EncryptSource(TKC_sourcefile& source, TKC_destinationfile& dest, std::u16string_view password,
                             std::int32_t algorithm = -1) const;
    FileStatus DecryptSource(TKC_sourcefile& source, TKC_destinationfile& dest, std::u16string_view password,
                             std::int32_t algorithm = -1) const;

private:
    std::int32_t CipherCode(std::int32_t algorithm) const noexcept { return algorithm == -1 ? FCipherAlgorithm : algorithm; }
    std::int32_t DigestCode(std::int32_t algorithm) const noexcept { return algorithm == -1 ? FHashAlgorithm : algorithm; }
    std::u16string TransformString(std::u16string_view inputStr, std::u16string_view password, std::int32_t algorithm,
                                   bool encrypt) const;
    std::int32_t TransformFile(std::u16string_view sourceFilename, std::u16string_view destFilename,
                               std::u16string_view password, std::int32_t algorithm, bool encrypt) const;
    FileStatus TransformSource(TKC_sourcefile& source, TKC_destinationfile& dest, std::u16string_view password,
                               std::int32_t algorithm, bool encrypt) const;

    std::int32_t FCipherAlgorithm = 0;
    std::int32_t FHashAlgorithm = 0;
    std::uint8_t FCipherMode = 0;
};

}  // namespace kestrune
