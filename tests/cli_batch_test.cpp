// The batch protocol: one answer per request, results and errors in the
// agreed shape, defaults, and requests that cannot be dispatched.
#include <gtest/gtest.h>

#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/batch.h"
#include "object/KCcatalogue.h"
#include "object/KCcodepage.h"
#include "object/KCpassword.h"

namespace kestrune::cli {
namespace {

using Json = nlohmann::json;

class Batch : public testing::Test {
protected:
    Json Ask(const std::string& line) {
        const auto answer = AnswerLine(object, line);
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

    TKestrune object;
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
    object.SetHashAlgorithm(1);
    const Json withProperty = Result(R"({"call": "HashString", "args": ["abc", -1]})");
    EXPECT_EQ(Result(R"({"call": "HashString", "args": ["abc"]})"), withProperty);
    EXPECT_EQ(Result(R"({"call": "HashString", "args": ["abc", null]})"), withProperty);
    EXPECT_EQ(Result(R"({"call": "HashSize", "args": []})"), object.HashSize(-1));

    SetPasswordGeneratorState(0);
    const Json byDefault = Result(R"({"call": "GenPassword"})");
    SetPasswordGeneratorState(0);
    EXPECT_EQ(Result(R"({"call": "GenPassword", "args": [8, ""]})"), byDefault);
    SetPasswordGeneratorState(0);
    EXPECT_EQ(Result(R"({"call": "GenPassword", "args": [null, null]})"), byDefault);
    // A null before a given argument stands for the default too.
    SetPasswordGeneratorState(0);
    const Json styled = Result(R"({"call": "GenPassword", "args": [null, "A0a"]})");
    SetPasswordGeneratorState(0);
    EXPECT_EQ(styled, Text(object.GenPassword(8, u"A0a")));
}

TEST_F(Batch, PasswordSequenceContinuesFromTheProcessState) {
    SetPasswordGeneratorState(0);
    const std::string first = Result(R"({"call": "GenPassword", "args": [6]})");
    const std::string second = Result(R"({"call": "GenPassword", "args": [6, "aaa"]})");
    SetPasswordGeneratorState(0);
    EXPECT_EQ(first, GeneratePassword(6, ""));
    EXPECT_EQ(second, GeneratePassword(6, "aaa"));
    EXPECT_NE(first, second);
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

TEST_F(Batch, FailuresOfTheObjectCarryItsStatusAndMessage) {
    for (const auto& row : DigestCatalogue()) {
        if (row.digestClass != nullptr) continue;
        const std::string line = R"({"call": "HashSize", "args": [)" + std::to_string(row.code) + "]}";
        EXPECT_EQ(ErrorCode(line, ObjectSource), "0x8000FFFF");
        try {
            object.HashSize(row.code);
            ADD_FAILURE() << "no failure for " << row.name;
        } catch (const EKestrune& e) {
            EXPECT_EQ(Ask(line)["error"]["description"], e.what());
        }
        return;
    }
    GTEST_SKIP() << "every digest is built";
}

TEST_F(Batch, RequestsThatCannotBeDispatchedGetTheirCodes) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"call": "Frobnicate"})", "0x80020003"},
        {R"({"get": "Nothing"})", "0x80020003"},
        {R"({"put": "MaxKeySize", "value": 64})", "0x80020003"},
        {R"({"get": "HashSize"})", "0x80020003"},
        {R"({"call": "CipherMode"})", "0x80020003"},
        {R"({"put": "GenPassword", "value": 1})", "0x80020003"},
        {R"({"call": "HashString"})", "0x8002000E"},
        {R"({"call": "HashString", "args": ["a", 1, 2]})", "0x8002000E"},
        {R"({"call": "OnEndPage", "args": [1]})", "0x8002000E"},
        {R"({"put": "CipherMode"})", "0x8002000E"},
        {R"({"call": "HashString", "args": [5]})", "0x80020005"},
        {R"({"call": "HashString", "args": [null]})", "0x80020005"},
        {R"({"call": "HashString", "args": ["a", "1"]})", "0x80020005"},
        {R"({"call": "HashString", "args": ["a", 1.5]})", "0x80020005"},
        {R"({"call": "HashString", "args": ["a", true]})", "0x80020005"},
        {R"({"put": "CipherMode", "value": "3"})", "0x80020005"},
        {R"({"call": "HashSize", "args": [2147483648]})", "0x8002000A"},
        {R"({"call": "HashSize", "args": [-2147483649]})", "0x8002000A"},
        {R"({"call": "HashString", "args": "abc"})", "0x80070057"},
        {R"({"call": 5})", "0x80070057"},
        {R"({"call": "HashSize", "get": "CipherMode"})", "0x80070057"},
        {R"({"call": "HashSize", "value": 1})", "0x80070057"},
        {R"({"args": []})", "0x80070057"},
        {R"({})", "0x80070057"},
        {R"(["call", "HashSize"])", "0x80070057"},
        {R"({"call": "HashSize"} trailing)", "0x80070057"},
        {R"({"call": "HashSize")", "0x80070057"},
        {"\xff\xfe", "0x80070057"},
        {"{\"call\": \"HashString\", \"args\": [\"\xc3\"]}", "0x80070057"},  // not UTF-8
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
    std::ostringstream out;
    EXPECT_EQ(RunBatch(in, out, object), 0);
    std::istringstream answers(out.str());
    std::vector<Json> lines;
    for (std::string line; std::getline(answers, line);) lines.push_back(Json::parse(line));
    ASSERT_EQ(lines.size(), 5u) << out.str();
    EXPECT_TRUE(lines[0].at("result").is_null());
    EXPECT_EQ(lines[1]["error"]["hresult"], "0x80070057");
    EXPECT_EQ(lines[2]["result"], 1);
    EXPECT_EQ(lines[3]["error"]["hresult"], "0x80020003");
    EXPECT_EQ(lines[4]["result"], 1);
}

TEST_F(Batch, RunStopsWithFailureWhenOutputIsGone) {
    std::istringstream in("{\"get\": \"CipherMode\"}\n");
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    EXPECT_EQ(RunBatch(in, out, object), 1);
}

}  // namespace
}  // namespace kestrune::cli
