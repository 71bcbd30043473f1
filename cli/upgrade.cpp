#include "upgrade.h"

#include <istream>
#include <ostream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "algorithms.h"
#include "batch.h"
#include "commands.h"
#include "framework/KCblockciphers.h"
#include "object/KCcatalogue.h"
#include "object/KCcodepage.h"
#include "object/UKestrune.h"
#include "text_checks.h"

namespace kestrune::cli {
namespace {

using TWipedBytes = std::vector<std::uint8_t, TWipingAllocator<std::uint8_t>>;

// An age file being built in memory: armor for a string.
class TTextSink final : public TKC_stream {
public:
    std::size_t Read(Bytes) override { return 0; }
    std::size_t Write(ConstBytes data) override {
        text.append(reinterpret_cast<const char*>(data.data()), data.size());
        return data.size();
    }
    std::string text;
};

// The legacy cipher keyed as the object keys it for these settings.
std::unique_ptr<TKC_cipher> LegacyCipher(const TLegacySettings& settings, std::u16string_view password) {
    auto cipher = CreateCipherFor(settings.cipher);
    if (auto* block = dynamic_cast<TKC_blockcipher*>(cipher.get()))
        block->CipherMode = static_cast<TKC_ciphermode>(settings.mode);
    std::string key = ToAnsi(password);
    try {
        cipher->InitFromPassword(key, DigestClassFor(settings.hash));
    } catch (...) {
        SecureFill(key.data(), key.size(), 0);
        throw;
    }
    SecureFill(key.data(), key.size(), 0);
    return cipher;
}

}  // namespace

std::string UpgradeString(const TLegacySettings& settings, std::u16string_view value, std::u16string_view password,
                          const age::TRecipients& recipients, bool lenient) {
    if (const auto problem = lenient ? std::nullopt : Base64Problem(value))
        throw std::runtime_error("the value is not Base64 as encrypt-string writes it: " + *problem +
                                 "; --lenient decodes it as the object does");
    TKestrune object;
    object.SetCipherAlgorithm(settings.cipher);
    object.SetHashAlgorithm(settings.hash);
    object.SetCipherMode(settings.mode);
    std::u16string plain = object.DecryptString(value, password);
    std::string utf8 = Utf16ToUtf8(plain);
    SecureFill(plain.data(), plain.size() * sizeof(char16_t), 0);
    const bool failed = DecryptionFailed(value, plain);
    TTextSink armor;
    try {
        if (failed) throw std::runtime_error("the legacy value could not be decrypted");
        age::TAgeWriter writer(armor, recipients, true);
        writer.Write({reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()});
        writer.Finish();
    } catch (...) {
        SecureFill(utf8.data(), utf8.size(), 0);
        throw;
    }
    SecureFill(utf8.data(), utf8.size(), 0);
    return std::move(armor.text);
}

FileStatus UpgradeFile(const TLegacySettings& settings, TKC_sourcefile& source, TKC_destinationfile& dest,
                       std::u16string_view password, const age::TRecipients& recipients, bool armor) {
    auto cipher = LegacyCipher(settings, password);
    age::TAgeWriter writer(dest, recipients, armor);
    std::uint64_t done = 0;
    try {
        done = cipher->DecryptStream(source, writer, StreamToEnd);
        cipher->Wipe();
        writer.Finish();
    } catch (const age::EAge&) {
        // The writer gives up when the destination refuses a write; the
        // destination knows why.
        if (dest.Failed()) return dest.Status();
        throw;
    }
    if (!source.IsStream() && done < source.Size()) source.FailShortRead();
    if (source.Failed()) return source.Status();
    if (dest.Commit()) return {};
    return dest.Failed() ? dest.Status() : FileStatus::Of(FileFault::WriteError, FileRole::Destination);
}

void AgeDecryptFile(TKC_sourcefile& source, TKC_destinationfile& dest, const std::string& sourceName,
                    const std::string& destName, const age::TIdentities& identities) {
    const bool stream = dest.WriteMode() == TKC_destinationfile::TWriteMode::Stream;
    TWipedBytes held;
    std::uint64_t written = 0;
    const auto put = [&](ConstBytes data) {
        if (dest.Write(data) != data.size())
            throw std::runtime_error(FileFailureReason(dest.Status(), sourceName, destName));
        written += data.size();
    };
    bool holding = stream;
    const auto sink = [&](ConstBytes chunk) {
        if (holding && held.size() + chunk.size() <= HeldOutputLimit) {
            held.insert(held.end(), chunk.begin(), chunk.end());
            return;
        }
        if (holding) {
            // Too much to hold: from here on each chunk goes out as it authenticates.
            holding = false;
            put(held);
            SecureFill(held.data(), held.size(), 0);
            held.clear();
            held.shrink_to_fit();
        }
        put(chunk);
    };
    try {
        age::Decrypt(source, identities, sink);
    } catch (const age::EAge& e) {
        std::string reason = source.Failed() ? FileFailureReason(source.Status(), sourceName, destName) : e.what();
        if (stream && written > 0)
            reason += "; the " + std::to_string(written) +
                      " bytes already written are only the start of the plaintext: discard them";
        throw std::runtime_error(reason);
    }
    if (source.Failed()) throw std::runtime_error(FileFailureReason(source.Status(), sourceName, destName));
    if (!held.empty()) put(held);
    if (!dest.Commit())
        throw std::runtime_error(FileFailureReason(
            dest.Failed() ? dest.Status() : FileStatus::Of(FileFault::WriteError, FileRole::Destination), sourceName,
            destName));
}

namespace {

using Json = nlohmann::ordered_json;

std::int32_t Setting(const Json& request, const char* name, std::optional<std::int32_t> (*parse)(std::string_view),
                     std::int32_t fallback) {
    if (!request.contains(name)) return fallback;
    const Json& value = request[name];
    const std::string text = value.is_number_integer() ? std::to_string(value.get<std::int64_t>())
                             : value.is_string()       ? value.get<std::string>()
                                                       : std::string("?");
    const auto parsed = parse(text);
    if (!parsed) throw std::runtime_error(std::string("unknown ") + name + " '" + text + "'");
    return *parsed;
}

std::string RequiredString(const Json& request, const char* name) {
    if (!request[name].is_string()) throw std::runtime_error(std::string("\"") + name + "\" must be a string");
    return request[name].get<std::string>();
}

Json Answer(const Json& request, const TLegacySettings& defaults, std::u16string_view password,
            const age::TRecipients& recipients, bool armor, bool lenient) {
    if (!request.is_object()) throw std::runtime_error("a request must be a JSON object");
    TLegacySettings settings = defaults;
    settings.cipher = Setting(request, "cipher", ParseCipher, settings.cipher);
    settings.hash = Setting(request, "hash", ParseDigest, settings.hash);
    settings.mode = Setting(request, "mode", ParseMode, settings.mode);
    const bool isValue = request.contains("value"), isFile = request.contains("source") || request.contains("dest");
    if (isValue == isFile) throw std::runtime_error("a request holds either \"value\" or \"source\" and \"dest\"");
    if (isValue) {
        const auto value = Utf8ToUtf16(RequiredString(request, "value"));
        return UpgradeString(settings, value, password, recipients, lenient);
    }
    const std::string from = RequiredString(request, "source"), to = RequiredString(request, "dest");
    if (!IsUtf8(from) || !IsUtf8(to)) throw std::runtime_error("file names must be UTF-8");
    if (from == "-" || to == "-") throw std::runtime_error("standard input and output carry the requests and answers");
    const auto [input, inputStatus] = OpenSource(from);
    if (!input) throw std::runtime_error(FileFailureReason(inputStatus, from, to));
    const auto [output, outputStatus] = CreateDestination(to, *input);
    if (!output) throw std::runtime_error(FileFailureReason(outputStatus, from, to));
    if (const FileStatus status = UpgradeFile(settings, *input, *output, password, recipients, armor); !status.Ok())
        throw std::runtime_error(FileFailureReason(status, from, to));
    return to;
}

}  // namespace

int RunUpgradeBatch(std::istream& in, std::ostream& out, const TLegacySettings& settings, std::u16string_view password,
                    const age::TRecipients& recipients, bool armor, bool lenient) {
    int status = 0;
    TSecretString line;
    for (;;) {
        const TLineRead read = ReadLine(in, line);
        if (read == TLineRead::End) break;
        if (read == TLineRead::Line && line.find_first_not_of(" \t\r") == TSecretString::npos) continue;
        Json answer = Json::object();
        try {
            if (read == TLineRead::TooLong) throw std::runtime_error("the request line is too long");
            const Json request = Json::parse(line.begin(), line.end());
            if (request.is_object() && request.contains("id")) answer["id"] = request["id"];
            answer["result"] = Answer(request, settings, password, recipients, armor, lenient);
        } catch (const std::exception& e) {
            answer.erase("result");
            answer["error"] = e.what();
            status = 1;
        }
        Wipe(line);
        WriteLine(out, answer.dump(-1, ' ', false, Json::error_handler_t::replace));
    }
    return status;
}

}  // namespace kestrune::cli
