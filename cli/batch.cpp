#include "batch.h"

#include <cstdio>
#include <istream>
#include <limits>
#include <ostream>
#include <vector>

#include <nlohmann/json.hpp>

#include "members.h"
#include "object/KCcodepage.h"

namespace kestrune::cli {
namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// A request the batch layer refuses before the object sees it.
struct TRequestError {
    std::uint32_t hresult;
    std::string description;
};

std::string HResultText(std::uint32_t code) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", code);
    return text;
}

std::string ErrorLine(std::uint32_t code, std::string_view description, std::string_view source) {
    OrderedJson error;
    error["hresult"] = HResultText(code);
    error["description"] = description;
    error["source"] = source;
    OrderedJson answer;
    answer["error"] = std::move(error);
    return answer.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string ResultLine(const TValue& value) {
    OrderedJson answer;
    if (const auto* number = std::get_if<std::int32_t>(&value))
        answer["result"] = *number;
    else if (const auto* text = std::get_if<std::u16string>(&value))
        answer["result"] = Utf16ToUtf8(*text);
    else
        answer["result"] = nullptr;
    return answer.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string Quoted(std::string_view name) { return "'" + std::string(name) + "'"; }

// A JSON integer as a 32-bit signed long.
std::int32_t LongFrom(const Json& value, const std::string& what) {
    if (!value.is_number_integer()) throw TRequestError{hresult::DISP_E_TYPEMISMATCH, what + " must be an integer"};
    const bool fits = value.is_number_unsigned() ? value.get<std::uint64_t>() <=
                                                       static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())
                                                 : value.get<std::int64_t>() >= std::numeric_limits<std::int32_t>::min() &&
                                                       value.get<std::int64_t>() <= std::numeric_limits<std::int32_t>::max();
    if (!fits) throw TRequestError{hresult::DISP_E_OVERFLOW, what + " is outside the range of a 32-bit signed integer"};
    return static_cast<std::int32_t>(value.get<std::int64_t>());
}

TValue ArgumentFrom(const Json& value, const TParam& param, std::size_t position, std::string_view member) {
    const std::string what =
        "argument " + std::to_string(position + 1) + " (" + std::string(param.name) + ") of " + std::string(member);
    if (value.is_null() && param.optional) return DefaultOf(param);
    switch (param.type) {
        case TParamType::Long: return LongFrom(value, what);
        case TParamType::String:
            if (!value.is_string()) throw TRequestError{hresult::DISP_E_TYPEMISMATCH, what + " must be a string"};
            return Utf8ToUtf16(value.get_ref<const std::string&>());
        case TParamType::Unknown:
            if (value.is_null()) return THostContext{false};
            if (value.is_string() || value.is_object()) return THostContext{true};
            throw TRequestError{hresult::DISP_E_TYPEMISMATCH,
                                what + " must be a host context: a string or an object, or null"};
    }
    return {};
}

std::string CountText(const TMember& member) {
    const std::size_t most = member.params.size(), least = RequiredCount(member);
    const auto arguments = [](std::size_t n) { return std::to_string(n) + (n == 1 ? " argument" : " arguments"); };
    if (least == most) return arguments(most);
    return std::to_string(least) + " to " + arguments(most);
}

const TMember& MemberNamed(const Json& name) {
    if (!name.is_string()) throw TRequestError{hresult::E_INVALIDARG, "the member name must be a string"};
    const auto& text = name.get_ref<const std::string&>();
    const TMember* member = FindMember(text);
    if (member == nullptr) throw TRequestError{hresult::DISP_E_MEMBERNOTFOUND, "unknown member " + Quoted(text)};
    return *member;
}

TValue Call(TKestrune& object, const Json& request) {
    const TMember& member = MemberNamed(request.at("call"));
    if (member.kind != TMemberKind::Method)
        throw TRequestError{hresult::DISP_E_MEMBERNOTFOUND, std::string(member.name) + " is a property: use get or put"};
    const Json noArguments = Json::array();
    const Json& args = request.contains("args") ? request.at("args") : noArguments;
    if (!args.is_array()) throw TRequestError{hresult::E_INVALIDARG, "\"args\" must be an array"};
    if (args.size() > member.params.size() || args.size() < RequiredCount(member))
        throw TRequestError{hresult::DISP_E_BADPARAMCOUNT, std::string(member.name) + " takes " + CountText(member) +
                                                               ", not " + std::to_string(args.size())};
    std::vector<TValue> values;
    values.reserve(member.params.size());
    for (std::size_t i = 0; i < member.params.size(); ++i)
        values.push_back(i < args.size() ? ArgumentFrom(args[i], member.params[i], i, member.name)
                                         : DefaultOf(member.params[i]));
    return member.invoke(object, values);
}

const TMember& PropertyNamed(const Json& name, std::string_view verb) {
    const TMember& member = MemberNamed(name);
    if (member.kind == TMemberKind::Method)
        throw TRequestError{hresult::DISP_E_MEMBERNOTFOUND,
                            std::string(member.name) + " is a method: use call, not " + std::string(verb)};
    return member;
}

TValue Put(TKestrune& object, const Json& request) {
    const TMember& member = PropertyNamed(request.at("put"), "put");
    if (member.put == nullptr)
        throw TRequestError{hresult::DISP_E_MEMBERNOTFOUND, std::string(member.name) + " is read-only"};
    if (!request.contains("value")) throw TRequestError{hresult::DISP_E_BADPARAMCOUNT, "put needs a \"value\""};
    member.put(object, LongFrom(request.at("value"), "the value of " + std::string(member.name)));
    return {};
}

// Exactly one of call, get and put, and nothing that belongs to another.
TValue Dispatch(TKestrune& object, const Json& request) {
    if (!request.is_object()) throw TRequestError{hresult::E_INVALIDARG, "a request must be a JSON object"};
    int verbs = 0;
    for (const auto& [key, value] : request.items()) {
        if (key == "call" || key == "get" || key == "put")
            ++verbs;
        else if (!(key == "args" && request.contains("call")) && !(key == "value" && request.contains("put")))
            throw TRequestError{hresult::E_INVALIDARG, "unexpected key " + Quoted(key)};
    }
    if (verbs != 1)
        throw TRequestError{hresult::E_INVALIDARG, "a request needs exactly one of \"call\", \"get\" and \"put\""};
    if (request.contains("call")) return Call(object, request);
    if (request.contains("put")) return Put(object, request);
    return PropertyNamed(request.at("get"), "get").invoke(object, {});
}

// The parser's text without its "[json.exception...] " prefix.
std::string ParseMessage(const std::exception& e) {
    std::string_view text = e.what();
    if (const auto end = text.find("] "); text.starts_with("[json.exception") && end != std::string_view::npos)
        text.remove_prefix(end + 2);
    return "invalid JSON: " + std::string(text);
}

}  // namespace

std::optional<std::string> AnswerLine(TKestrune& object, std::string_view line) {
    if (line.find_first_not_of(" \t\r\n") == std::string_view::npos) return std::nullopt;
    Json request;
    try {
        request = Json::parse(line);
    } catch (const Json::parse_error& e) {
        return ErrorLine(hresult::E_INVALIDARG, ParseMessage(e), BatchSource);
    }
    try {
        return ResultLine(Dispatch(object, request));
    } catch (const TRequestError& e) {
        return ErrorLine(e.hresult, e.description, BatchSource);
    } catch (const EKestrune& e) {
        return ErrorLine(static_cast<std::uint32_t>(e.Status), e.what(), ObjectSource);
    } catch (const std::exception& e) {
        return ErrorLine(hresult::E_UNEXPECTED, e.what(), ObjectSource);
    }
}

int RunBatch(std::istream& in, std::ostream& out, TKestrune& object) {
    std::string line;
    while (std::getline(in, line)) {
        if (auto answer = AnswerLine(object, line)) {
            out << *answer << '\n' << std::flush;
            if (!out) return 1;
        }
    }
    return 0;
}

}  // namespace kestrune::cli
