// Base64 decoding of arbitrary text: never out of bounds, never longer than
// the reserve the string form makes, and decoded bytes survive encoding and
// decoding again.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "framework/KCbase64.h"
#include "fuzz/fuzz_check.h"

using kestrune::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::string bytes = kestrune::DecodeBase64String(text);
    Check(bytes.size() <= size / 4 * 3, "decoding yields at most 3 bytes per group of 4");

    // The buffer form, into a heap block of exactly the documented size so
    // that the sanitizer sees any write past it.
    const std::size_t reserve = size / 4 * 3;
    auto buffer = std::make_unique<std::uint8_t[]>(reserve == 0 ? 1 : reserve);
    const std::size_t written = kestrune::DecodeBase64(text, kestrune::Bytes(buffer.get(), reserve));
    Check(written == bytes.size() && std::string_view(reinterpret_cast<const char*>(buffer.get()), written) == bytes,
          "buffer and string forms decode alike");

    const std::string encoded = kestrune::EncodeBase64String(bytes);
    Check(encoded.size() == kestrune::Base64EncodedSize(bytes.size()), "encoding has the documented length");
    Check(encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") == std::string::npos,
          "encoding uses the alphabet and padding only");
    Check(kestrune::DecodeBase64String(encoded) == bytes, "decoded bytes survive encoding and decoding");

    // The input as bytes, encoded and decoded.
    Check(kestrune::DecodeBase64String(kestrune::EncodeBase64String(text)) == text, "any bytes survive a round trip");
    return 0;
}
