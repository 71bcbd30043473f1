// DecryptString of arbitrary text for every cipher and digest code. The
// first bytes choose the cipher code, the digest code, the mode and the
// password's length; the password and the text follow, one character per
// byte. Decryption yields exactly as many bytes as the text decodes to, and
// encrypting them again gives that Base64 back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/KCbase64.h"
#include "fuzz/fuzz_check.h"
#include "object/KCcodepage.h"
#include "object/UKestrune.h"

using kestrune::fuzz::Check;

namespace {

std::u16string Widened(const std::uint8_t* data, std::size_t size) { return {data, data + size}; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    // Signed bytes: -1 (the property), the listed codes and codes that select the last row.
    const auto cipherCode = static_cast<std::int8_t>(data[0]);
    const auto digestCode = static_cast<std::int8_t>(data[1]);
    const auto mode = static_cast<std::int8_t>(data[2]);
    std::size_t passwordLength = data[3];
    data += 4;
    size -= 4;
    if (passwordLength > size) passwordLength = size;
    const std::u16string password = Widened(data, passwordLength);
    const std::u16string text = Widened(data + passwordLength, size - passwordLength);

    kestrune::TKestrune object;
    object.SetHashAlgorithm(digestCode);
    object.SetCipherMode(mode);  // no effect on strings, but the object sets it on the cipher
    const std::u16string plain = object.DecryptString(text, password, cipherCode);

    const std::string cipherBytes = kestrune::DecodeBase64String(kestrune::ToAnsi(text));
    Check(kestrune::ToAnsi(plain).size() == cipherBytes.size(), "as many plaintext bytes as ciphertext bytes");
    Check(object.EncryptString(plain, password, cipherCode) == kestrune::FromAnsi(kestrune::EncodeBase64String(cipherBytes)),
          "encrypting the plaintext again restores the ciphertext");
    return 0;
}
