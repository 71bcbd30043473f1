// The batch protocol: one answer per request, results and errors in the
// agreed shape, defaults, conversions, and requests that cannot be
// dispatched. Requests reach the object through its dispatch interface; a
// core object of the test's own gives the expected values.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <streambuf>
#include <tuple>

#include <nlohmann/json.hpp>

#include "cli/batch.h"
#include "object/KCcatalogue.h"
#include "object/KCcodepage.h"
#include "object/UKestrune.h"

namespace kestrune::cli {
namespace {

using Json = nlohmann::json;

constexpr std::string_view ObjectSource = "brindel_Kestrune.Kestrune";

class Batch : public testing::Test {
protected:
    // Runs a whole batch and parses each answer line.
    std::vector<Json> Run(std::istream& in, std::size_t lineLimit = MaxLineBytes) {
        std::ostringstream out;
        EXPECT_EQ(RunBatch(in, out, host, lineLimit), 0);
        std::istringstream answers(out.str());
        std::vector<Json> lines;
        for (std::string line; std::getline(answers, line);) lines.push_back(Json::parse(line));
        return lines;
    }
    Json Ask(const std::string& line) {
        const auto answer = AnswerLine(host, line);
        EXPECT_TRUE(answer.has_value()) << line;
        return answer ? Json::parse(*answer) : Json();
    }
    Json Result(const std::string& line) {
        const Json answer = Ask(line);
        EXPECT_TRUE(answer.contains("result")) << line << " -> " << answer.dump();
        return answer.value("result", Json());
    }
    // The error's hresult; its description must say something and its
    // source name who refused the request.
    std::string ErrorCode(const std::string& line, std::string_view source = BatchSource) {
        const Json answer = Ask(line);
        if (!answer.contains("error")) {
            ADD_FAILURE() << line << " -> " << answer.dump();
            return {};
        }
        const Json& error = answer["error"];
        EXPECT_FALSE(error.at("description").get<std::string>().empty()) << line;
        EXPECT_EQ(error.at("source"), source) << line;
        return error.at("hresult");
    }
    static std::string Text(std::u16string_view text) { return Utf16ToUtf8(text); }

    TScriptHost host{std::string(BatchSource)};
    TKestrune object;  // the expected values
};

TEST_F(Batch, ResultsCarryStringsIntegersAndNothing) {
    EXPECT_EQ(Result(R"({"call": "HashString", "args": ["abc", 1]})"), Text(object.HashString(u"abc", 1)));
    EXPECT_EQ(Result(R"({"call": "HashSize"})"), object.HashSize());
    EXPECT_EQ(Result(R"({"get": "MaxKeySize"})"), object.MaxKeySize());
    EXPECT_TRUE(Result(R"({"put": "HashAlgorithm", "value": 1})").is_null());
    EXPECT_TRUE(Result(R"({"call": "OnEndPage"})").is_null());
}

TEST_F(Batch, MemberNamesIgnoreCase) {
    EXPECT_EQ(Result(R"({"put": "cipherMODE", "value": 4})"), Json());
    EXPECT_EQ(Result(R"({"get": "CIPHERMODE"})"), 4);
    EXPECT_EQ(Result(R"({"call": "hashsize", "args": [1]})"), object.HashSize(1));
}

TEST_F(Batch, PropertiesKeepWhatIsWrittenAndModesStayValid) {
    Result(R"({"put": "CipherAlgorithm", "value": -5})");
    EXPECT_EQ(Result(R"({"get": "CipherAlgorithm"})"), -5);
    Result(R"({"put": "CipherMode", "value": 2})");
    Result(R"({"put": "CipherMode", "value": 5})");  // ignored, as the object does
    EXPECT_EQ(Result(R"({"get": "CipherMode"})"), 2);
}

TEST_F(Batch, LeftOutAndNullOptionalArgumentsTakeTheirDefaults) {
    Result(R"({"put": "HashAlgorithm", "value": 1})");
    const Json withProperty = Result(R"({"call": "HashString", "args": ["abc", -1]})");
    EXPECT_EQ(withProperty, Text(object.HashString(u"abc", 1)));
    EXPECT_EQ(Result(R"({"call": "HashString", "args": ["abc"]})"), withProperty);
    EXPECT_EQ(Result(R"({"call": "HashString", "args": ["abc", null]})"), withProperty);
    EXPECT_EQ(Result(R"({"call": "HashSize", "args": []})"), object.HashSize(1));

    // The generator's state lives in the library, so the shapes tell the defaults.
    const auto shaped = [](const Json& password, std::size_t length, const std::string& lowerAt) {
        const std::string text = password.get<std::string>();
        if (text.size() != length) return false;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            const bool lower = i < lowerAt.size() && lowerAt[i] == 'a';
            if (lower ? !(c >= 'a' && c <= 'z') : !((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
        }
        return true;
    };
    EXPECT_TRUE(shaped(Result(R"({"call": "GenPassword"})"), 8, ""));
    EXPECT_TRUE(shaped(Result(R"({"call": "GenPassword", "args": [null, null]})"), 8, ""));
    EXPECT_TRUE(shaped(Result(R"({"call": "GenPassword", "args": [null, "aaa"]})"), 8, "aaa"));
    EXPECT_TRUE(shaped(Result(R"({"call": "GenPassword", "args": [5]})"), 5, ""));
}

TEST_F(Batch, PasswordsContinueTheSequence) {
    const std::string first = Result(R"({"call": "GenPassword", "args": [12]})");
    const std::string second = Result(R"({"call": "GenPassword", "args": [12]})");
    EXPECT_NE(first, second);
}

TEST_F(Batch, NamedArgumentsGoByParameterName) {
    const Json md4 = Result(R"({"call": "HashString", "args": ["abc", 1]})");
    EXPECT_EQ(Result(R"({"call": "HashString", "args": ["abc"], "named": {"algorithm": 1}})"), md4);
    EXPECT_EQ(Result(R"({"call": "HashString", "named": {"Algorithm": 1, "InputStr": "abc"}})"), md4);
    const std::string digits = Result(R"({"call": "GenPassword", "named": {"Style": "0000"}})");
    EXPECT_EQ(digits.size(), 8u);
    EXPECT_EQ(digits.substr(0, 4).find_first_not_of("0123456789"), std::string::npos) << digits;
    EXPECT_EQ(ErrorCode(R"({"call": "HashString", "args": ["abc"], "named": {"Bogus": 1}})"), "0x80020006");
    EXPECT_EQ(ErrorCode(R"({"call": "HashString", "named": {"Algorithm": 1}})"), "0x8002000E");
    EXPECT_EQ(ErrorCode(R"({"call": "HashString", "named": []})"), "0x80070057");
}

TEST_F(Batch, ArgumentsConvertAsTheObjectConvertsVariants) {
    const Json md4 = Result(R"({"call": "HashString", "args": ["abc", 1]})");
    EXPECT_EQ(Result(R"({"call": "HashString", "args": ["abc", "1"]})"), md4);
    EXPECT_EQ(Result(R"({"call": "HashString", "args": ["abc", 1.0]})"), md4);
    EXPECT_EQ(Result(R"({"call": "HashString", "args": [5]})"), Text(object.HashString(u"5")));
    EXPECT_EQ(Result(R"({"call": "HashString", "args": [2.5]})"), Text(object.HashString(u"2.5")));
    Result(R"({"put": "HashAlgorithm", "value": 1})");
    EXPECT_EQ(Result(R"({"call": "HashString", "args": ["abc", true]})"), md4);  // true is -1: the property
    Result(R"({"put": "CipherMode", "value": "3"})");
    EXPECT_EQ(Result(R"({"get": "CipherMode"})"), 3);
    Result(R"({"put": "CipherMode", "value": 1.5})");  // halves round to even
    EXPECT_EQ(Result(R"({"get": "CipherMode"})"), 2);
    Result(R"({"put": "CipherMode", "value": 2.5})");
    EXPECT_EQ(Result(R"({"get": "CipherMode"})"), 2);
}

TEST_F(Batch, UnicodeCrossesAsWindows1252AndBack) {
    const std::string text = "Grüße, 10 € — “quoted”";
    const Json cipher = Result(Json{{"call", "EncryptString"}, {"args", {text, "pässword"}}}.dump());
    ASSERT_TRUE(cipher.is_string());
    EXPECT_EQ(Result(Json{{"call", "DecryptString"}, {"args", {cipher, "pässword"}}}.dump()), text);
    // The same text as \u escapes is the same request.
    EXPECT_EQ(Result(R"({"call": "HashString", "args": ["\u00fc\u20ac"]})"),
              Result(R"({"call": "HashString", "args": ["ü€"]})"));
    // Outside the code page a character becomes its best fit, else '?', as in the object.
    EXPECT_EQ(Result(R"({"call": "HashString", "args": ["\u03a9"]})"), Result(R"({"call": "HashString", "args": ["O"]})"));
    EXPECT_EQ(Result(R"({"call": "HashString", "args": ["\u0416"]})"), Result(R"({"call": "HashString", "args": ["?"]})"));
}

TEST_F(Batch, FileOperationsReportTheirResultCode) {
    EXPECT_EQ(Result(R"({"call": "HashFile", "args": ["/nonexistent/kestrune"]})"), "");
    EXPECT_EQ(Result(R"({"call": "EncryptFile", "args": ["/nonexistent/a", "/nonexistent/b", "pw"]})"), -1);
    EXPECT_EQ(Result(R"({"call": "DecryptFile", "args": ["/nonexistent/a", "/nonexistent/b", "pw", 0]})"), -1);
}

TEST_F(Batch, OnStartPageResetsSelectionsAndNeedsTheScriptingContext) {
    Result(R"({"put": "CipherAlgorithm", "value": 15})");
    EXPECT_EQ(ErrorCode(R"({"call": "OnStartPage", "args": [null]})", ObjectSource), "0x80004002");
    EXPECT_EQ(Result(R"({"get": "CipherAlgorithm"})"), 0);
    Result(R"({"put": "HashAlgorithm", "value": 3})");
    EXPECT_TRUE(Result(R"({"call": "OnStartPage", "args": [{}]})").is_null());
    EXPECT_EQ(Result(R"({"get": "HashAlgorithm"})"), 0);
    EXPECT_TRUE(Result(R"({"call": "OnStartPage", "args": ["host"]})").is_null());
    EXPECT_EQ(ErrorCode(R"({"call": "OnStartPage", "args": [7]})"), "0x80020005");
    EXPECT_EQ(ErrorCode(R"({"call": "OnStartPage"})"), "0x8002000E");
}

TEST_F(Batch, RequestsThatCannotBeDispatchedGetTheirCodes) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"call": "Frobnicate"})", "0x80020006"},
        {R"({"get": "Nothing"})", "0x80020006"},
        {R"({"put": "MaxKeySize", "value": 64})", "0x80020003"},
        {R"({"get": "HashSize"})", "0x80020003"},
        {R"({"call": "CipherMode"})", "0x80020003"},
        {R"({"put": "GenPassword", "value": 1})", "0x80020003"},
        {R"({"call": "HashString"})", "0x8002000E"},
        {R"({"call": "HashString", "args": ["a", 1, 2]})", "0x8002000E"},
        {R"({"call": "OnEndPage", "args": [1]})", "0x8002000E"},
        {R"({"put": "CipherMode"})", "0x8002000E"},
        {R"({"call": "HashString", "args": [null]})", "0x80020005"},
        {R"({"call": "HashString", "args": ["a", "seven"]})", "0x80020005"},
        {R"({"call": "HashString", "args": ["a", ""]})", "0x80020005"},
        {R"({"call": "HashString", "args": ["a", [1]]})", "0x80020005"},
        {R"({"call": "HashString", "args": [{"a": 1}]})", "0x80020005"},
        {R"({"put": "CipherMode", "value": "three"})", "0x80020005"},
        {R"({"call": "HashSize", "args": [2147483648]})", "0x8002000A"},
        {R"({"call": "HashSize", "args": [-2147483649]})", "0x8002000A"},
        {R"({"call": "HashSize", "args": ["99999999999"]})", "0x8002000A"},
        {R"({"call": "HashString", "args": "abc"})", "0x80070057"},
        {R"({"call": 5})", "0x80070057"},
        {R"({"call": "HashSize", "get": "CipherMode"})", "0x80070057"},
        {R"({"call": "HashSize", "value": 1})", "0x80070057"},
        {R"({"put": "CipherMode", "value": 1, "named": {}})", "0x80070057"},
        {R"({"args": []})", "0x80070057"},
        {R"({})", "0x80070057"},
        {R"(["call", "HashSize"])", "0x80070057"},
        {R"({"call": "HashSize"} trailing)", "0x80070057"},
        {R"({"call": "HashSize")", "0x80070057"},
        {"\xff\xfe", "0x80070057"},
        {"{\"call\": \"HashString\", \"args\": [\"\xc3\"]}", "0x80070057"},  // not UTF-8
        {R"({"call": "HashSize", "args": [1e400]})", "0x80070057"},  // beyond a double
        {R"({"call": "HashSize", "args": [-1e400]})", "0x80070057"},
        {R"({"get": "CipherMode", "zz": 1e999})", "0x80070057"},
    };
    for (const auto& [line, code] : cases) EXPECT_EQ(ErrorCode(line), code) << line;
    // The extremes of a long still pass.
    EXPECT_EQ(Result(R"({"call": "HashSize", "args": [2147483647]})"), object.HashSize(0));
    EXPECT_EQ(Result(R"({"call": "HashSize", "args": [-2147483648]})"), object.HashSize(0));
}

TEST_F(Batch, RunAnswersEveryLineInOrderAndSkipsBlankOnes) {
    std::istringstream in(
        "{\"put\": \"CipherMode\", \"value\": 1}\n"
        "\n"
        "   \t\n"
        "not json\n"
        "{\"get\": \"CipherMode\"}\r\n"
        "{\"call\": \"Missing\"}\n"
        "{\"get\": \"CipherMode\"}");  // the last line needs no line break
    const std::vector<Json> lines = Run(in);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(lines[0].at("result").is_null());
    EXPECT_EQ(lines[1]["error"]["hresult"], "0x80070057");
    EXPECT_EQ(lines[2]["result"], 1);
    EXPECT_EQ(lines[3]["error"]["hresult"], "0x80020006");
    EXPECT_EQ(lines[4]["result"], 1);
}

TEST_F(Batch, AnswersLeadWithTheRequestsIdWhereItCanBeRead) {
    // line, the id its answer must carry (absent: none), whether the answer is an error
    const std::tuple<const char*, std::optional<Json>, bool> cases[] = {
        {R"({"id": 7, "call": "HashSize"})", 7, false},
        {R"({"get": "CipherMode", "id": "a-1"})", "a-1", false},
        {R"({"id": null, "get": "CipherMode"})", nullptr, false},  // a null id is still an id
        {R"({"id": {"n": [1, {"x": [true]}], "m": 2.5}, "put": "CipherMode", "value": 0})",
         Json::parse(R"({"n": [1, {"x": [true]}], "m": 2.5})"), false},
        {R"({"id": 1, "id": 2, "call": "HashSize"})", 2, false},
        {R"({"call": "HashSize"})", std::nullopt, false},
        {R"({"id": 3, "call": "Frobnicate"})", 3, true},
        {R"({"id": 4, "bogus": 1})", 4, true},
        {R"({"id": 5})", 5, true},
        {R"({"id": [5, 6], "call": "EncryptString", "args": ["a", S3cr3t]})", Json::parse("[5, 6]"), true},
        {R"({"id": 8, "call": "HashSize", "args": [1e400]})", 8, true},
        {R"({"id": 9, "call": "HashSize")", 9, true},
        // Not readable: it comes after the fault, it is broken itself, or it is no member of the request.
        {R"({"call": "HashSize", "args": [1e400], "id": 10})", std::nullopt, true},
        {R"({"id": [11, }, "call": "HashSize"})", std::nullopt, true},
        {R"({"args": {"id": 12}})", std::nullopt, true},
        {R"([{"id": 13}])", std::nullopt, true},
    };
    for (const auto& [line, id, error] : cases) {
        const auto answer = AnswerLine(host, std::string_view(line));
        ASSERT_TRUE(answer.has_value()) << line;
        const Json parsed = Json::parse(*answer);
        EXPECT_EQ(parsed.contains("error"), error) << line << " -> " << *answer;
        EXPECT_EQ(parsed.size(), id ? 2u : 1u) << *answer;
        if (id) {
            EXPECT_TRUE(answer->starts_with("{\"id\":")) << *answer;
            EXPECT_EQ(parsed.value("id", Json()), *id) << line;
        }
    }
}

TEST_F(Batch, ALineBeyondTheLimitKeepsItsIdFromItsStart) {
    const std::string text(5000, 'x');
    std::istringstream in("{\"id\": \"long\", \"call\": \"HashString\", \"args\": [\"" + text + "\"]}\n" +
                          "{\"call\": \"HashString\", \"args\": [\"" + text + "\"], \"id\": 2}\n");
    const std::vector<Json> lines = Run(in, 1000);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].value("id", Json()), "long") << lines[0];
    EXPECT_EQ(lines[0]["error"]["hresult"], "0x80070057") << lines[0];
    EXPECT_FALSE(lines[1].contains("id")) << lines[1];
}

TEST_F(Batch, RefusedLinesAreNotQuotedInTheirAnswers) {
    // Text the parser stopped in may be a password.
    for (const std::string line : {R"({"call": "EncryptString", "args": ["a", S3cr3tPW]})",
                                   "{\"call\": \"EncryptString\", \"args\": [\"a\", \"S3cr3tPW\x01\"]}",
                                   R"({"call": "EncryptString", "args": ["a", "S3cr3tPW"], 1e999: 0})",
                                   R"({"call": "EncryptString", "args": ["a", 1e999, "S3cr3tPW"]})"}) {
        const auto answer = AnswerLine(host, line);
        ASSERT_TRUE(answer.has_value());
        EXPECT_TRUE(Json::parse(*answer).contains("error")) << *answer;
        EXPECT_EQ(answer->find("S3cr3tPW"), std::string::npos) << *answer;
    }
}

TEST_F(Batch, RunGoesOnAfterANumberBeyondADouble) {
    std::istringstream in("{\"call\":\"HashSize\"}\n{\"call\":\"HashSize\",\"args\":[1e400]}\n{\"call\":\"HashSize\"}\n");
    const std::vector<Json> lines = Run(in);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0]["result"], object.HashSize(-1));
    EXPECT_EQ(lines[1]["error"]["hresult"], "0x80070057");
    EXPECT_EQ(lines[2]["result"], object.HashSize(-1));
}

// A line of n letters and then the rest, made as it is read: nothing holds the long line.
class TLongLine : public std::streambuf {
public:
    TLongLine(std::size_t n, std::string rest) : left_(n), rest_(std::move(rest)) { letters_.fill('a'); }

private:
    int_type underflow() override {
        if (left_ > 0) {
            const std::size_t n = std::min(left_, letters_.size());
            left_ -= n;
            setg(letters_.data(), letters_.data(), letters_.data() + n);
        } else if (!restGiven_) {
            restGiven_ = true;
            setg(rest_.data(), rest_.data(), rest_.data() + rest_.size());
        }
        return gptr() == egptr() ? traits_type::eof() : traits_type::to_int_type(*gptr());
    }
    std::size_t left_;
    std::string rest_;
    bool restGiven_ = false;
    std::array<char, 4096> letters_;
};

TEST_F(Batch, LinesBeyondTheLimitAreRefusedAndSkippedWithoutBeingHeld) {
    for (const auto& [length, expected] : {std::pair{std::size_t{1000}, TLineRead::Line}, {std::size_t{1001}, TLineRead::TooLong},
                                          {std::size_t{5'000'000}, TLineRead::TooLong}}) {
        TLongLine source(length, "\n{\"get\": \"CipherMode\"}");
        std::istream in(&source);
        TSecretString line;
        EXPECT_EQ(ReadLine(in, line, 1000), expected) << length;
        EXPECT_LE(line.capacity(), 2000u) << length;  // never more than the limit held
        EXPECT_EQ(ReadLine(in, line, 1000), TLineRead::Line);
        EXPECT_EQ(line, "{\"get\": \"CipherMode\"}");
        EXPECT_EQ(ReadLine(in, line, 1000), TLineRead::End);
    }
    TLongLine source(5'000'000, "\n{\"get\": \"CipherMode\"}\n");
    std::istream in(&source);
    const std::vector<Json> lines = Run(in, 1000);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["error"]["hresult"], "0x80070057") << lines[0];
    EXPECT_EQ(lines[1]["result"], 0) << lines[1];
    EXPECT_EQ(MaxLineBytes, std::size_t{64} << 20);  // as the README states
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // their allocators keep no [heap]
// Whether the heap holds the bytes whose copy xor 0x5A is scrambled: the
// search itself must not put them there.
bool HeapHolds(const std::string& scrambled) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (!line.ends_with("[heap]")) continue;
        const std::size_t dash = line.find('-'), space = line.find(' ');
        const auto* p = reinterpret_cast<const unsigned char*>(std::stoull(line.substr(0, dash), nullptr, 16));
        const auto* end = reinterpret_cast<const unsigned char*>(std::stoull(line.substr(dash + 1, space - dash - 1), nullptr, 16));
        for (; p + scrambled.size() <= end; ++p) {
            std::size_t k = 0;
            while (k < scrambled.size() && (p[k] ^ 0x5A) == static_cast<unsigned char>(scrambled[k])) ++k;
            if (k == scrambled.size()) return true;
        }
    }
    return false;
}

// Reads a string in place, where std::istringstream would keep a copy.
class TInPlace : public std::streambuf {
public:
    explicit TInPlace(std::string& text) { setg(text.data(), text.data(), text.data() + text.size()); }
};

TEST_F(Batch, NoCopyOfAPasswordOutlivesItsRequest) {
    // Built in place, so that no temporary of the test's own holds it.
    std::string password, request;
    password.reserve(64);
    password += "Pw-";
    password += std::to_string(std::random_device{}());
    password += "-correct-horse-battery";
    request.reserve(128);
    request += R"({"call": "EncryptString", "args": ["text", ")";
    request += password;
    request += "\"]}\n";
    std::string narrow, wide;  // scrambled, in 8-bit and in 16-bit form
    for (const char c : password) {
        narrow += static_cast<char>(c ^ 0x5A);
        wide += static_cast<char>(c ^ 0x5A);
        wide += static_cast<char>(0x5A);
    }
    Wipe(password);
    {
        TInPlace source(request);
        std::istream in(&source);
        std::ostringstream out;
        EXPECT_EQ(RunBatch(in, out, host), 0);
        EXPECT_NE(out.str().find("result"), std::string::npos) << out.str();
    }
    Wipe(request);
    EXPECT_FALSE(HeapHolds(narrow));
    EXPECT_FALSE(HeapHolds(wide));
}
#endif

TEST_F(Batch, RunStopsWithFailureWhenOutputIsGone) {
    std::istringstream in("{\"get\": \"CipherMode\"}\n");
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    EXPECT_EQ(RunBatch(in, out, host), 1);
}

}  // namespace
}  // namespace kestrune::cli
