#include "references.h"

#include <gcrypt.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <botan/cipher_mode.h>
#include <botan/hash.h>
#include <botan/stream_cipher.h>

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/aes.h>
#include <cryptopp/algparam.h>
#include <cryptopp/arc4.h>
#include <cryptopp/blowfish.h>
#include <cryptopp/cast.h>
#include <cryptopp/des.h>
#include <cryptopp/idea.h>
#include <cryptopp/mars.h>
#include <cryptopp/md4.h>
#include <cryptopp/md5.h>
#include <cryptopp/modes.h>
#include <cryptopp/rc2.h>
#include <cryptopp/rc5.h>
#include <cryptopp/rc6.h>
#include <cryptopp/ripemd.h>
#include <cryptopp/serpent.h>
#include <cryptopp/sha.h>
#include <cryptopp/tea.h>
#include <cryptopp/tiger.h>
#include <cryptopp/twofish.h>

#include <cstring>
#include <memory>
#include <string_view>

namespace bench {

void InitReferences() {
    // Blowfish, CAST5, IDEA, RC2, RC4, MD4 and single DES live in the legacy provider.
    OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER_load(nullptr, "default");
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
}

CipherHandle OpenSslCipher(const CipherNames& n, const CipherRequest& r) {
    if (!n.openssl) return {};
    static constexpr const char* suffix[] = {"-CBC", "-CFB8", "-CFB", "-OFB", "-CTR", ""};
    const std::string name = std::string(n.openssl) + suffix[static_cast<int>(r.mode)];
    EVP_CIPHER* fetched = EVP_CIPHER_fetch(nullptr, name.c_str(), nullptr);
    if (!fetched) {
        ERR_clear_error();
        return {};
    }
    const std::shared_ptr<EVP_CIPHER> type(fetched, EVP_CIPHER_free);
    const std::shared_ptr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    const int enc = r.decrypting ? 0 : 1;
    bool ok = EVP_CipherInit_ex2(ctx.get(), type.get(), nullptr, nullptr, enc, nullptr) == 1;
    const int keyLength = static_cast<int>(r.key.size());
    if (ok && EVP_CIPHER_CTX_get_key_length(ctx.get()) != keyLength)
        ok = EVP_CIPHER_CTX_set_key_length(ctx.get(), keyLength) == 1;
    if (ok && n.effectiveBits) EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_SET_RC2_KEY_BITS, n.effectiveBits, nullptr);
    if (ok && n.rounds) EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_SET_RC5_ROUNDS, n.rounds, nullptr);
    ok = ok && EVP_CipherInit_ex2(ctx.get(), nullptr, r.key.data(), r.iv.empty() ? nullptr : r.iv.data(), enc,
                                  nullptr) == 1;
    if (!ok) {
        ERR_clear_error();
        return {};
    }
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    return {[ctx, type](std::uint8_t* d, std::size_t len) {
                int out = 0;
                EVP_CipherUpdate(ctx.get(), d, &out, d, static_cast<int>(len));
            },
            [ctx, enc](Key key, Key iv) {
                EVP_CipherInit_ex2(ctx.get(), nullptr, key.data(), iv.empty() ? nullptr : iv.data(), enc, nullptr);
            }};
}

std::string Base64(std::span<const std::uint8_t> bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(), static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(n));
    return text;
}

DigestOp OpenSslDigest(const DigestNames& n) {
    if (!n.openssl) return {};
    EVP_MD* fetched = EVP_MD_fetch(nullptr, n.openssl, nullptr);
    if (!fetched) {
        ERR_clear_error();
        return {};
    }
    const std::shared_ptr<EVP_MD> md(fetched, EVP_MD_free);
    const std::shared_ptr<EVP_MD_CTX> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return [md, ctx](const std::uint8_t* d, std::size_t len, std::uint8_t* digest) {
        unsigned size = 0;
        EVP_DigestInit_ex2(ctx.get(), md.get(), nullptr);
        EVP_DigestUpdate(ctx.get(), d, len);
        EVP_DigestFinal_ex(ctx.get(), digest, &size);
    };
}

CipherHandle GcryptCipher(const CipherNames& n, const CipherRequest& r) {
    if (!n.gcrypt) return {};
    static constexpr int modes[] = {GCRY_CIPHER_MODE_CBC, GCRY_CIPHER_MODE_CFB8, GCRY_CIPHER_MODE_CFB,
                                    GCRY_CIPHER_MODE_OFB, GCRY_CIPHER_MODE_CTR, GCRY_CIPHER_MODE_STREAM};
    gcry_cipher_hd_t h = nullptr;
    if (gcry_cipher_open(&h, n.gcrypt, modes[static_cast<int>(r.mode)], 0)) return {};
    const std::shared_ptr<gcry_cipher_handle> handle(h, gcry_cipher_close);
    const bool counter = r.mode == Mode::CTR;
    const auto setKey = [handle, counter](Key key, Key iv) {
        if (gcry_cipher_setkey(handle.get(), key.data(), key.size())) return false;
        if (counter) return gcry_cipher_setctr(handle.get(), iv.data(), iv.size()) == 0;
        return iv.empty() || gcry_cipher_setiv(handle.get(), iv.data(), iv.size()) == 0;
    };
    if (!setKey(r.key, r.iv)) return {};
    const bool decrypting = r.decrypting;
    return {[handle, decrypting](std::uint8_t* d, std::size_t len) {
                decrypting ? gcry_cipher_decrypt(handle.get(), d, len, nullptr, 0)
                           : gcry_cipher_encrypt(handle.get(), d, len, nullptr, 0);
            },
            setKey};
}

DigestOp GcryptDigest(int algo) {
    gcry_md_hd_t h = nullptr;
    if (!algo || gcry_md_open(&h, algo, 0)) return {};
    const std::shared_ptr<gcry_md_handle> handle(h, gcry_md_close);
    const std::size_t size = gcry_md_get_algo_dlen(algo);
    return [handle, algo, size](const std::uint8_t* d, std::size_t len, std::uint8_t* digest) {
        gcry_md_reset(handle.get());
        gcry_md_write(handle.get(), d, len);
        std::memcpy(digest, gcry_md_read(handle.get(), algo), size);
    };
}

CipherHandle BotanCipher(const CipherNames& n, const CipherRequest& r) {
    if (!n.botan) return {};
    const std::string name = n.botan;
    try {
        if (r.mode == Mode::OFB || r.mode == Mode::CTR || r.mode == Mode::Stream) {
            const std::string botanName = r.mode == Mode::OFB ? "OFB(" + name + ")"
                                     : r.mode == Mode::CTR ? "CTR-BE(" + name + ")"
                                                           : name;
            std::shared_ptr<Botan::StreamCipher> sc(Botan::StreamCipher::create(botanName));
            if (!sc) return {};
            const auto setKey = [sc](Key key, Key iv) {
                sc->set_key(key.data(), key.size());
                if (!iv.empty()) sc->set_iv(iv.data(), iv.size());
            };
            setKey(r.key, r.iv);
            return {[sc](std::uint8_t* d, std::size_t len) { sc->cipher1(d, len); }, setKey};
        }
        const std::string botanName =
            name + (r.mode == Mode::CBC ? "/CBC/NoPadding" : r.mode == Mode::CFB8 ? "/CFB(8)" : "/CFB");
        std::shared_ptr<Botan::Cipher_Mode> m(
            Botan::Cipher_Mode::create(botanName, r.decrypting ? Botan::DECRYPTION : Botan::ENCRYPTION));
        if (!m) return {};
        const auto setKey = [m](Key key, Key iv) {
            m->set_key(key.data(), key.size());
            m->start(iv.data(), iv.size());
        };
        setKey(r.key, r.iv);
        return {[m](std::uint8_t* d, std::size_t len) { m->process(d, len); }, setKey};
    } catch (const std::exception&) {
        return {};
    }
}

DigestOp BotanDigest(const DigestNames& n) {
    if (!n.botan) return {};
    std::shared_ptr<Botan::HashFunction> h(Botan::HashFunction::create(n.botan));
    if (!h) return {};
    return [h](const std::uint8_t* d, std::size_t len, std::uint8_t* digest) {
        h->update(d, len);
        h->final(digest);
    };
}

namespace {

using namespace CryptoPP;

template <typename M>
CipherHandle CryptoppMode(const CipherNames& n, const CipherRequest& r) {
    auto m = std::make_shared<M>();
    const auto setKey = [m, cfb8 = r.mode == Mode::CFB8, rounds = n.rounds](Key key, Key iv) {
        AlgorithmParameters params = MakeParameters(Name::IV(), ConstByteArrayParameter(iv.data(), iv.size()));
        if (cfb8) params(Name::FeedbackSize(), 1);
        if (rounds) params(Name::Rounds(), rounds);
        m->SetKey(key.data(), key.size(), params);
    };
    setKey(r.key, r.iv);
    return {[m](std::uint8_t* d, std::size_t len) { m->ProcessData(d, d, len); }, setKey};
}

template <typename C>
CipherHandle CryptoppOf(const CipherNames& n, const CipherRequest& r) {
    const bool dec = r.decrypting;
    switch (r.mode) {
    case Mode::CBC:
        return dec ? CryptoppMode<typename CBC_Mode<C>::Decryption>(n, r)
                   : CryptoppMode<typename CBC_Mode<C>::Encryption>(n, r);
    case Mode::CFB8:
    case Mode::CFBblock:
        return dec ? CryptoppMode<typename CFB_Mode<C>::Decryption>(n, r)
                   : CryptoppMode<typename CFB_Mode<C>::Encryption>(n, r);
    case Mode::OFB: return CryptoppMode<typename OFB_Mode<C>::Encryption>(n, r);
    case Mode::CTR: return CryptoppMode<typename CTR_Mode<C>::Encryption>(n, r);
    case Mode::Stream: return {};
    }
    return {};
}

}  // namespace

CipherHandle CryptoppCipher(const CipherNames& n, const CipherRequest& r) {
    if (!n.cryptopp) return {};
    const std::string_view name = n.cryptopp;
    try {
        if (name == "ARC4") {
            auto rc4 = std::make_shared<Weak::ARC4>(r.key.data(), r.key.size());
            return {[rc4](std::uint8_t* d, std::size_t len) { rc4->ProcessData(d, d, len); },
                    [rc4](Key key, Key) { rc4->SetKey(key.data(), key.size()); }};
        }
        if (name == "AES") return CryptoppOf<AES>(n, r);
        if (name == "Blowfish") return CryptoppOf<Blowfish>(n, r);
        if (name == "Twofish") return CryptoppOf<Twofish>(n, r);
        if (name == "Serpent") return CryptoppOf<Serpent>(n, r);
        if (name == "MARS") return CryptoppOf<MARS>(n, r);
        if (name == "RC6") return CryptoppOf<RC6>(n, r);
        if (name == "CAST128") return CryptoppOf<CAST128>(n, r);
        if (name == "CAST256") return CryptoppOf<CAST256>(n, r);
        if (name == "DES") return CryptoppOf<DES>(n, r);
        if (name == "DES_EDE3") return CryptoppOf<DES_EDE3>(n, r);
        if (name == "IDEA") return CryptoppOf<IDEA>(n, r);
        if (name == "RC2") return CryptoppOf<RC2>(n, r);
        if (name == "RC5") return CryptoppOf<RC5>(n, r);
        if (name == "TEA") return CryptoppOf<TEA>(n, r);
        if (name == "XTEA") return CryptoppOf<XTEA>(n, r);
    } catch (const std::exception&) {
    }
    return {};
}

DigestOp CryptoppDigest(const DigestNames& n) {
    if (!n.cryptopp) return {};
    const std::string_view name = n.cryptopp;
    std::shared_ptr<HashTransformation> h;
    if (name == "MD4") h = std::make_shared<Weak::MD4>();
    if (name == "MD5") h = std::make_shared<Weak::MD5>();
    if (name == "RIPEMD128") h = std::make_shared<RIPEMD128>();
    if (name == "RIPEMD160") h = std::make_shared<RIPEMD160>();
    if (name == "SHA1") h = std::make_shared<SHA1>();
    if (name == "SHA256") h = std::make_shared<SHA256>();
    if (name == "SHA384") h = std::make_shared<SHA384>();
    if (name == "SHA512") h = std::make_shared<SHA512>();
    if (name == "Tiger") h = std::make_shared<Tiger>();
    if (!h) return {};
    return [h](const std::uint8_t* d, std::size_t len, std::uint8_t* digest) { h->CalculateDigest(digest, d, len); };
}

}  // namespace bench
