// Hashing and encrypting with the library, once through the framework's
// classes and once through the crypto object; the two agree, and every
// line printed is a known answer.
#include <kestrune/kestrune.h>

#include <iostream>
#include <string>
#include <vector>

namespace {

std::string Hex(kestrune::ConstBytes bytes) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t b : bytes) text += {Digits[b >> 4], Digits[b & 15]};
    return text;
}

// The object's strings are UTF-16; these are all ASCII.
std::string Narrow(std::u16string_view text) { return {text.begin(), text.end()}; }

}  // namespace

int main() {
    using namespace kestrune;
    const std::string message = "Attack at dawn, then again at dusk.";  // two blocks and three bytes

    // A digest from its class reference: Init, Update, Final.
    const TKC_hashclass& sha256 = HashClassOf<TKC_sha256>;
    const auto hash = sha256.Create();
    std::vector<std::uint8_t> digest(hash->DigestBytes());
    hash->Init();
    hash->UpdateFromString(message);
    hash->Final(digest);
    std::cout << sha256.GetAlgorithm() << " " << Hex(digest) << '\n';

    // A cipher keyed from a password (its SHA-256 digest is the key), then
    // CBC over a buffer and back. The block cipher's initial vector is the
    // encrypted zero block; Reset rewinds to it.
    const TKC_cipherclass& rijndael = CipherClassOf<TKC_rijndael>;
    const auto cipher = rijndael.Create();
    auto& block = dynamic_cast<TKC_blockcipher&>(*cipher);
    block.InitFromPassword("secret", sha256);
    std::vector<std::uint8_t> data(message.begin(), message.end()), sealed(data.size());
    block.EncryptCBC(data, sealed);
    block.Reset();
    std::vector<std::uint8_t> opened(sealed.size());
    block.DecryptCBC(sealed, opened);
    std::cout << rijndael.GetAlgorithm() << " CBC " << Hex(sealed) << " -> " << std::string(opened.begin(), opened.end())
              << '\n';

    // Strings: 8-bit cipher feedback from the initial vector, Base64 text.
    block.Reset();
    const std::string framed = cipher->EncryptString(message);
    std::cout << rijndael.GetAlgorithm() << " string " << framed << '\n';
    cipher->Wipe();

    // The same through the object: SHA-256 is digest code 6, Rijndael cipher
    // code 15; the password's digest follows HashAlgorithm.
    TKestrune object;
    object.SetHashAlgorithm(6);
    const std::u16string text(message.begin(), message.end());
    const std::u16string encrypted = object.EncryptString(text, u"secret", 15);
    std::cout << "object HashString " << Narrow(object.HashString(text)) << '\n';
    std::cout << "object EncryptString " << Narrow(encrypted) << " -> "
              << Narrow(object.DecryptString(encrypted, u"secret", 15)) << '\n';
    return Narrow(encrypted) == framed ? 0 : 1;
}
