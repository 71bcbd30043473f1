// The batch mode's line reader and line handler over arbitrary input, on one
// object for the whole run as the tool keeps it. The reader splits exactly
// at line breaks and drops a line beyond its limit whole; every request
// that is not blank gets one answer, a JSON object with a result or an
// error in the agreed shape, led by the request's id when it has one.
//
// Requests for the file members are left out: they would read and write
// files wherever the input's names point. So are very long passwords.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cli/batch.h"
#include "fuzz/fuzz_check.h"
#include "object/KCcodepage.h"

using kestrune::automation::TVariant;
using kestrune::fuzz::Check;
using Json = nlohmann::json;

namespace {

constexpr int MostLines = 16;

kestrune::cli::TScriptHost& Host() {
    static kestrune::cli::TScriptHost host{std::string(kestrune::cli::BatchSource)};
    return host;
}

// Passwords longer than this cost seconds each and reach no new code; those
// beyond the generator's limit fail at once and are still tried.
constexpr double LongestPassword = 1 << 16;
constexpr double PasswordLimit = 1 << 24;

bool TooLong(const Json& length) {
    double value = 0;
    if (length.is_number()) {
        value = length.get<double>();
    } else if (length.is_string()) {
        TVariant text = TVariant::Text(kestrune::Utf8ToUtf16(length.get_ref<const std::string&>()));
        TVariant converted;
        if (FAILED(VariantChangeType(converted.Put(), text.Get(), 0, VT_R8))) return false;
        value = converted->dblVal;
    }
    return value > LongestPassword && value <= PasswordLimit;
}

// Requests the harness leaves out: the file members, and passwords that
// only cost time.
bool LeftOut(std::string_view line) {
    // Only a line that could name one of them (member names ignore case, and
    // JSON can spell any letter as an escape) is worth parsing here.
    std::string folded(line);
    for (char& c : folded) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (folded.find("file") == std::string::npos && folded.find("genpassword") == std::string::npos &&
        folded.find("\\u") == std::string::npos)
        return false;
    Json request;
    try {
        request = Json::parse(line);
    } catch (const std::exception&) {
        return false;  // never reaches a member
    }
    if (!request.is_object()) return false;
    for (const char* verb : {"call", "get", "put"}) {
        const auto it = request.find(verb);
        if (it == request.end() || !it->is_string()) continue;
        const auto shape = Host().Shape(kestrune::Utf8ToUtf16(it->get_ref<const std::string&>()));
        const auto* member = std::get_if<kestrune::cli::TMemberShape>(&shape);
        if (member == nullptr) continue;
        if (member->dispid == 204 || member->dispid == 206 || member->dispid == 208) return true;
        if (member->dispid != 211) continue;
        if (const auto args = request.find("args"); args != request.end() && args->is_array() && !args->empty() &&
                                                    TooLong(args->front()))
            return true;
        if (const auto named = request.find("named"); named != request.end() && named->is_object())
            for (const auto& [key, value] : named->items())
                if (TooLong(value)) return true;
    }
    return false;
}

// Blank is taken before the line is answered: answering wipes it.
bool IsBlank(std::string_view line) { return line.find_first_not_of(" \t\r\n") == std::string_view::npos; }

// The id of a request that parses, taken before the line is answered.
std::optional<Json> IdOf(std::string_view line) {
    const Json request = Json::parse(line, nullptr, false);
    if (!request.is_object() || !request.contains("id")) return std::nullopt;
    return request["id"];
}

void CheckAnswer(bool blank, const std::optional<Json>& id, const std::optional<std::string>& answer) {
    Check(answer.has_value() != blank, "every request that is not blank gets one answer");
    if (!answer) return;
    Check(answer->find('\n') == std::string::npos, "an answer is one line");
    Json parsed = Json::parse(*answer, nullptr, false);
    Check(parsed.is_object(), "an answer is an object");
    if (id) Check(answer->starts_with("{\"id\":") && parsed["id"] == *id, "an answer leads with its request's id");
    if (parsed.contains("id")) parsed.erase("id");
    Check(parsed.size() == 1, "an answer has one member besides the id");
    if (parsed.contains("result")) {
        const Json& result = parsed["result"];
        Check(result.is_null() || result.is_string() || result.is_number_integer(), "a result is text, a number or null");
        return;
    }
    Check(parsed.contains("error"), "an answer holds a result or an error");
    const Json& error = parsed["error"];
    Check(error.is_object() && error.size() == 3 && error.contains("hresult") && error["hresult"].is_string() &&
              error.contains("description") && error["description"].is_string() && error.contains("source") &&
              error["source"].is_string(),
          "an error has a status, a description and a source");
    const std::string& status = error["hresult"].get_ref<const std::string&>();
    Check(status.size() == 10 && status.starts_with("0x8"), "an error's status is a failure in hexadecimal");
}

// The line limits tried: around the reader's 64 KiB pieces, and the real one.
constexpr std::size_t Limits[] = {16, 255, 4096, 65535, 65536, 65537, 200000, kestrune::cli::MaxLineBytes};

// The first line stretched by repeating it to just about the reader's piece
// size (or twice it), so that the input reaches the reader's piece joins.
std::string Stretched(std::string_view input, std::uint8_t how, std::uint8_t extra) {
    const std::size_t end = std::min(input.find('\n'), input.size());
    const std::string_view first = end == 0 ? std::string_view("x") : input.substr(0, end);
    const std::size_t length = (65530 + std::size_t{extra} * 2) * ((how & 0x10) != 0 ? 2 : 1);
    std::string text;
    text.reserve(length + input.size());
    while (text.size() < length) text.append(first.substr(0, std::min(first.size(), length - text.size())));
    text.append(input.substr(end));
    return text;
}

}  // namespace

// Input: one byte that chooses the line limit (bits 0 to 2) and whether the
// first line is stretched (bits 3 and 5 both set; bit 4 for twice as far),
// one byte for the stretch, then the lines.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t how = data[0], extra = data[1];
    const std::size_t limit = Limits[how & 7];
    const std::string_view raw(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::string text = (how & 0x28) == 0x28 ? Stretched(raw, how, extra) : std::string(raw);

    std::istringstream in(text);
    kestrune::cli::TSecretString line;
    std::string_view rest = text;
    for (int lines = 0; lines < MostLines; ++lines) {
        const kestrune::cli::TLineRead read = kestrune::cli::ReadLine(in, line, limit);
        // The reader splits exactly at the line breaks.
        const std::size_t end = rest.find('\n');
        const std::string_view expected = rest.substr(0, end);
        if (rest.empty()) {
            Check(read == kestrune::cli::TLineRead::End, "the end of the input is the end");
            break;
        }
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (expected.size() > limit) {
            Check(read == kestrune::cli::TLineRead::TooLong && line.size() <= std::min(limit, kestrune::cli::TooLongKeptBytes) &&
                      expected.starts_with(std::string_view(line)),
                  "a line beyond the limit is dropped but for its start");
            continue;
        }
        Check(read == kestrune::cli::TLineRead::Line && std::string_view(line) == expected, "a line is read as it stands");
        if (LeftOut(line)) continue;
        const bool blank = IsBlank(line);
        const std::optional<Json> id = IdOf(line);
        CheckAnswer(blank, id, kestrune::cli::AnswerLine(Host(), line));
    }
    return 0;
}
