#include "batch.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <limits>
#include <map>
#include <memory>
#include <stdexcept>
#include <ostream>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "automation/brindel_Kestrune_TLB.h"
#if KESTRUNE_BATCH_IDENTIFY
#include "identify.h"
#endif
#include "object/KCcodepage.h"
#include "text_checks.h"

namespace kestrune::cli {
namespace {

// Requests may carry passwords: their parsed values live in storage that is
// wiped when it is released.
using Json = nlohmann::basic_json<std::map, std::vector, TSecretString, bool, std::int64_t, std::uint64_t, double,
                                  TWipingAllocator>;
using OrderedJson = nlohmann::ordered_json;

// A request the tool refuses before the object sees it.
struct TRequestError {
    HRESULT hresult;
    std::string description;
};

std::string ErrorLine(HRESULT code, std::string_view description, std::string_view source) {
    OrderedJson error;
    error["hresult"] = HResultText(code);
    error["description"] = description;
    error["source"] = source;
    OrderedJson answer;
    answer["error"] = std::move(error);
    return answer.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string ResultLine(const TVariant& value) {
    OrderedJson answer;
    if (value.Type() == VT_I4)
        answer["result"] = value->lVal;
    else if (value.Type() == VT_BSTR)
        answer["result"] = Utf16ToUtf8(automation::TextOf(value->bstrVal));
    else
        answer["result"] = nullptr;
    return answer.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string Quoted(std::string_view name) { return "'" + std::string(name) + "'"; }

bool SameName(std::u16string_view a, std::u16string_view b) {
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; };
    return std::ranges::equal(a, b, [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

// A JSON value as the variant a script engine would pass; param, where
// known, decides what null and host contexts mean.
TVariant VariantFrom(const Json& value, const TParamShape* param, const std::string& what) {
    if (param != nullptr && param->type == VT_UNKNOWN) {
        if (value.is_null()) return TVariant::Unknown(NewHostContext(false).Get());
        if (value.is_string() || value.is_object()) return TVariant::Unknown(NewHostContext(true).Get());
    }
    switch (value.type()) {
        case Json::value_t::null:
            if (param != nullptr && param->optional) return TVariant::Missing();
            {
                TVariant null;
                null.Put()->vt = VT_NULL;
                return null;
            }
        case Json::value_t::string: {
            std::u16string text = Utf8ToUtf16(value.get_ref<const TSecretString&>());
            TVariant result = TVariant::Text(text);
            Wipe(text);
            return result;
        }
        case Json::value_t::boolean: return TVariant::Bool(value.get<bool>());
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned: {
            // Beyond 32 bits as a double, so that the object reports the overflow.
            const bool fits = value.is_number_unsigned()
                                  ? value.get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<LONG>::max())
                                  : value.get<std::int64_t>() >= std::numeric_limits<LONG>::min() &&
                                        value.get<std::int64_t>() <= std::numeric_limits<LONG>::max();
            return fits ? TVariant::Long(static_cast<LONG>(value.get<std::int64_t>())) : TVariant::Double(value.get<double>());
        }
        case Json::value_t::number_float: return TVariant::Double(value.get<double>());
        default:
            throw TRequestError{DISP_E_TYPEMISMATCH, "Type mismatch: " + what + " cannot be an array or an object"};
    }
}

const TMemberShape& Named(TScriptHost& host, const Json& name, TMemberShape& shape) {
    if (!name.is_string()) throw TRequestError{E_INVALIDARG, "the member name must be a string"};
    auto found = host.Shape(Utf8ToUtf16(name.get_ref<const TSecretString&>()));
    if (auto* failure = std::get_if<TFailure>(&found)) throw *failure;
    shape = std::move(std::get<TMemberShape>(found));
    return shape;
}

TVariant Result(std::variant<TVariant, TFailure> outcome) {
    if (auto* failure = std::get_if<TFailure>(&outcome)) throw std::move(*failure);
    return std::move(std::get<TVariant>(outcome));
}

// The request's values go once they are arguments: a page's text may be
// large, and the call needs only one copy of it.
TVariant Call(TScriptHost& host, Json& request) {
    TMemberShape member;
    Named(host, request.at("call"), member);
    const std::string name = Utf16ToUtf8(member.name);
    const Json none = Json::array();
    const Json& args = request.contains("args") ? request.at("args") : none;
    if (!args.is_array()) throw TRequestError{E_INVALIDARG, "\"args\" must be an array"};
    std::vector<TVariant> values;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const TParamShape* param = i < member.params.size() ? &member.params[i] : nullptr;
        values.push_back(VariantFrom(args[i], param, "argument " + std::to_string(i + 1) + " of " + name));
    }
    std::vector<TNamedArg> named;
    if (request.contains("named")) {
        const Json& byName = request.at("named");
        if (!byName.is_object()) throw TRequestError{E_INVALIDARG, "\"named\" must be an object"};
        for (const auto& [key, value] : byName.items()) {
            const std::u16string paramName = Utf8ToUtf16(key);
            const TParamShape* param = nullptr;
            for (const auto& p : member.params)
                if (SameName(p.name, paramName)) param = &p;
            named.push_back({paramName, VariantFrom(value, param, "argument " + std::string(key) + " of " + name)});
        }
    }
    request = Json();
    return Result(host.Invoke(member, TInvokeKind::Call, std::move(values), std::move(named)));
}

TVariant Put(TScriptHost& host, const Json& request) {
    TMemberShape member;
    Named(host, request.at("put"), member);
    if (!request.contains("value")) throw TRequestError{DISP_E_BADPARAMCOUNT, "put needs a \"value\""};
    std::vector<TVariant> value;
    value.push_back(VariantFrom(request.at("value"), nullptr, "the value of " + Utf16ToUtf8(member.name)));
    return Result(host.Invoke(member, TInvokeKind::Put, std::move(value)));
}

TVariant Get(TScriptHost& host, const Json& request) {
    TMemberShape member;
    Named(host, request.at("get"), member);
    return Result(host.Invoke(member, TInvokeKind::Get, {}));
}

// identify needs the tool (libmagic, threads, the password sources): the
// Windows batch driver, which shares this file, answers that it has none.
#if KESTRUNE_BATCH_IDENTIFY
std::string StringMember(const Json& request, const char* key) {
    const Json& value = request.at(key);
    if (!value.is_string()) throw TRequestError{E_INVALIDARG, "\"" + std::string(key) + "\" must be a string"};
    return std::string(value.get_ref<const TSecretString&>());
}

// {"identify": TEXT or {"file": PATH}, "password": ... or "passwords": [...],
// "known_prefix", "known_type", "top"}, or {"identify": TEXT or {"file": PATH},
// "digest": HEX}: the answer of identify --json as the result.
std::string Identify(Json& request) {
    static constexpr std::string_view Keys[] = {"identify", "password", "passwords", "digest", "known_prefix", "known_type", "top"};
    for (const auto& [key, value] : request.items())
        if (std::ranges::find(Keys, key) == std::end(Keys)) throw TRequestError{E_INVALIDARG, "unexpected key " + Quoted(key)};
    const Json& subject = request.at("identify");
    std::optional<std::string> file;
    if (subject.is_object() && subject.size() == 1 && subject.contains("file") && subject.at("file").is_string())
        file = StringMember(subject, "file");
    else if (!subject.is_string())
        throw TRequestError{E_INVALIDARG, "\"identify\" must be the stored text or {\"file\": PATH}"};
    const auto text = [&] { return Utf8ToUtf16(subject.get_ref<const TSecretString&>()); };
    if (request.contains("digest")) {
        for (const char* key : {"password", "passwords", "known_prefix", "known_type", "top"})
            if (request.contains(key)) throw TRequestError{E_INVALIDARG, Quoted(key) + " does not go with \"digest\""};
        try {
            const auto codes = file ? IdentifyFileDigest(StringMember(request, "digest"), *file)
                                    : IdentifyTextDigest(StringMember(request, "digest"), text());
            return "{\"result\":" + DigestJson(codes) + "}";
        } catch (const std::invalid_argument& e) {
            throw TRequestError{E_INVALIDARG, e.what()};
        }
    }
    std::vector<TSecretText> passwords;
    if (request.contains("password") == request.contains("passwords"))
        throw TRequestError{E_INVALIDARG, "identify needs one of \"password\" and \"passwords\""};
    if (request.contains("password")) {
        passwords.push_back(SecretFromUtf8(StringMember(request, "password")));
    } else {
        const Json& list = request.at("passwords");
        if (!list.is_array() || list.empty()) throw TRequestError{E_INVALIDARG, "\"passwords\" must be a non-empty array"};
        for (const Json& entry : list) {
            if (!entry.is_string()) throw TRequestError{E_INVALIDARG, "\"passwords\" must hold strings"};
            passwords.push_back(SecretFromUtf8(entry.get_ref<const TSecretString&>()));
        }
    }
    TIdentifyOptions options;
    if (request.contains("known_prefix")) options.knownPrefix = StringMember(request, "known_prefix");
    if (request.contains("known_type")) {
        if (!file) throw TRequestError{E_INVALIDARG, "\"known_type\" needs {\"file\": PATH}"};
        options.knownType = StringMember(request, "known_type");
    }
    if (request.contains("top")) {
        const Json& top = request.at("top");
        if (!top.is_number_unsigned()) throw TRequestError{E_INVALIDARG, "\"top\" must be a count"};
        options.top = top.get<std::size_t>();
    }
    TIdentifyResult result;
    if (file) {
        const auto start = ReadFileStart(*file);
        if (start.empty()) throw TRequestError{E_INVALIDARG, Quoted(*file) + " is empty: there is nothing to identify"};
        result = IdentifyFileStart(start, passwords, options);
    } else {
        const auto input = text();
        if (input.empty()) throw TRequestError{E_INVALIDARG, "the value is empty: there is nothing to identify"};
        if (const auto problem = Base64Problem(input))
            throw TRequestError{E_INVALIDARG, "the value is not Base64 as EncryptString writes it: " + *problem};
        result = IdentifyText(input, passwords, options);
    }
    return "{\"result\":" + IdentifyJson(result, file.has_value(), request.contains("passwords")) + "}";
}
#else
std::string Identify(Json&) { throw TRequestError{E_NOTIMPL, "identify is not available in this build"}; }
#endif

// Exactly one of call, get and put, and nothing that belongs to another.
TVariant Dispatch(TScriptHost& host, Json& request) {
    if (!request.is_object()) throw TRequestError{E_INVALIDARG, "a request must be a JSON object"};
    int verbs = 0;
    for (const auto& [key, value] : request.items()) {
        if (key == "call" || key == "get" || key == "put")
            ++verbs;
        else if (!((key == "args" || key == "named") && request.contains("call")) && !(key == "value" && request.contains("put")))
            throw TRequestError{E_INVALIDARG, "unexpected key " + Quoted(key)};
    }
    if (verbs != 1) throw TRequestError{E_INVALIDARG, "a request needs exactly one of \"call\", \"get\" and \"put\""};
    if (request.contains("call")) return Call(host, request);
    if (request.contains("put")) return Put(host, request);
    return Get(host, request);
}

// The "id" of a line's top-level object, read as far as the line parses: a
// line that breaks after its id still has its answer matched to it. The
// last complete id wins, as it does in a parsed request.
std::optional<Json> IdOf(std::string_view line) {
    std::optional<Json> id;
    bool idNext = false;  // the last key of the top-level object was "id"
    const auto watch = [&](int depth, Json::parse_event_t event, Json& parsed) {
        if (depth != 1) return true;
        switch (event) {
            case Json::parse_event_t::key: idNext = parsed == "id"; break;
            case Json::parse_event_t::value:
            case Json::parse_event_t::object_end:
            case Json::parse_event_t::array_end:
                if (idNext) id = parsed;
                idNext = false;
                break;
            default: break;  // the start of a container, which its end completes
        }
        return true;
    };
    [[maybe_unused]] const Json whole = Json::parse(line, watch, false);
    return id;
}

// The answer with the request's id as its first member.
std::string WithId(const std::optional<Json>& id, std::string answer) {
    if (!id) return answer;
    const auto text = id->dump(-1, ' ', false, Json::error_handler_t::replace);
    return "{\"id\":" + std::string(text) + "," + answer.substr(1);
}

// The parser's account of a line it refused, without its "[json.exception...] "
// prefix and without the text it was reading, which may be a password.
std::string ParseMessage(const Json::exception& e) {
    if (dynamic_cast<const Json::out_of_range*>(&e) != nullptr) return "invalid JSON: a number is out of range";
    std::string_view text = e.what();
    if (const auto end = text.find("] "); text.starts_with("[json.exception") && end != std::string_view::npos)
        text.remove_prefix(end + 2);
    text = text.substr(0, text.find("; last read:"));
    return "invalid JSON: " + std::string(text);
}

bool Blank(std::string_view line) noexcept { return line.find_first_not_of(" \t\r\n") == std::string_view::npos; }

// The request on a line, or the answer that refuses it.
std::variant<Json, std::string> Parsed(std::string_view line) {
    try {
        return Json::parse(line);
    } catch (const Json::exception& e) {  // syntax, and numbers beyond a double
        return WithId(IdOf(line), ErrorLine(E_INVALIDARG, ParseMessage(e), BatchSource));
    }
}

std::string Answer(TScriptHost& host, Json& request) {
    // The id goes before the call: a call drops the request's values.
    std::optional<Json> id;
    if (auto found = request.is_object() ? request.find("id") : request.end(); found != request.end()) {
        id = std::move(*found);
        request.erase(found);
    }
    try {
        if (request.is_object() && request.contains("identify")) return WithId(id, Identify(request));
        return WithId(id, ResultLine(Dispatch(host, request)));
    } catch (const TRequestError& e) {
        return WithId(id, ErrorLine(e.hresult, e.description, BatchSource));
    } catch (const TFailure& e) {
        return WithId(id, ErrorLine(e.hresult, e.description, e.source));
    } catch (const std::exception& e) {
        return WithId(id, ErrorLine(E_UNEXPECTED, e.what(), BatchSource));
    }
}

}  // namespace

std::optional<std::string> AnswerLine(TScriptHost& host, std::string_view line) {
    if (Blank(line)) return std::nullopt;
    auto parsed = Parsed(line);
    if (auto* refusal = std::get_if<std::string>(&parsed)) return std::move(*refusal);
    return Answer(host, std::get<Json>(parsed));
}

std::optional<std::string> AnswerLine(TScriptHost& host, TSecretString& line) {
    if (Blank(line)) return std::nullopt;
    auto parsed = Parsed(line);
    // Only the parsed request is needed from here on.
    Wipe(line);
    line.shrink_to_fit();
    if (auto* refusal = std::get_if<std::string>(&parsed)) return std::move(*refusal);
    return Answer(host, std::get<Json>(parsed));
}

TLineRead ReadLine(std::istream& in, TSecretString& line, std::size_t limit) {
    Wipe(line);
    std::array<char, 64 * 1024> piece;
    std::size_t used = 0;
    bool any = false, tooLong = false;
    for (;;) {
        in.getline(piece.data(), static_cast<std::streamsize>(piece.size()));
        if (in.bad()) break;
        const auto taken = static_cast<std::size_t>(in.gcount());
        const bool filled = in.fail() && !in.eof();  // the piece filled up before the line ended
        const bool broken = !in.fail() && !in.eof();  // the line break was taken
        const std::size_t stored = broken ? taken - 1 : taken;
        used = std::max(used, stored);
        any = any || taken > 0;
        if (!tooLong && line.size() + stored > limit) {
            tooLong = true;
            // Only the start stays, for the id of the answer.
            const std::size_t keep = std::min(limit, TooLongKeptBytes);
            if (line.size() < keep) line.append(piece.data(), std::min(stored, keep - line.size()));
            SecureFill(line.data() + std::min(keep, line.size()), line.size() - std::min(keep, line.size()), 0);
            line.resize(std::min(keep, line.size()));
        }
        if (!tooLong) line.append(piece.data(), stored);
        if (!filled) break;
        in.clear(in.rdstate() & ~std::ios::failbit);
    }
    SecureFill(piece.data(), used, 0);
    if (tooLong) {
        line.shrink_to_fit();  // the limit's worth of memory goes back
        return TLineRead::TooLong;
    }
    return any ? TLineRead::Line : TLineRead::End;
}

int RunBatch(std::istream& in, std::ostream& out, TScriptHost& host, std::size_t maxLine) {
    TSecretString line;
    for (;;) {
        const TLineRead read = ReadLine(in, line, maxLine);
        if (read == TLineRead::End) return 0;
        auto answer = read == TLineRead::TooLong
                          ? std::optional<std::string>(WithId(IdOf(line), ErrorLine(E_INVALIDARG,
                                                                                    "the request line is longer than the limit of " +
                                                                                        std::to_string(maxLine) + " bytes",
                                                                                    BatchSource)))
                          : AnswerLine(host, line);
        Wipe(line);
        if (answer) {
            out << *answer << '\n' << std::flush;
            if (!out) return 1;
        }
    }
}


}  // namespace kestrune::cli
