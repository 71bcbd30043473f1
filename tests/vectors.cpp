#include "vectors.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestrune::test {

std::vector<std::uint8_t> FromHex(const std::string& hex) {
    if (hex.size() % 2 != 0) throw std::runtime_error("odd hex length: " + hex);
    std::vector<std::uint8_t> out(hex.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    return out;
}

std::string ToHex(const std::vector<std::uint8_t>& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (auto b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::vector<std::uint8_t> VectorRecord::Bytes(const std::string& field) const { return FromHex(fields.at(field)); }

long VectorRecord::Number(const std::string& field, long fallback) const {
    auto it = fields.find(field);
    return it == fields.end() ? fallback : std::stol(it->second);
}

std::string VectorRecord::Where() const {
    std::ostringstream out;
    out << file << ":" << line << " [" << section << "] " << comment;
    return out.str();
}

std::vector<VectorRecord> LoadVectors(const std::string& fileName) {
    std::ifstream in(std::string(KESTRUNE_TEST_DATA) + "/" + fileName);
    if (!in) throw std::runtime_error("cannot open test data " + fileName);
    std::vector<VectorRecord> records;
    VectorRecord current;
    std::string section, comment, line;
    int lineNo = 0;
    auto flush = [&] {
        if (!current.fields.empty()) records.push_back(current);
        current = VectorRecord{};
    };
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("#", 0) == 0) {
            comment = line;
            continue;
        }
        if (line.find_first_not_of(" \t") == std::string::npos) {
            flush();
            continue;
        }
        if (line[0] == '[') {
            flush();
            section = line.substr(1, line.find(']') - 1);
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) throw std::runtime_error(fileName + ":" + std::to_string(lineNo) + ": not a field");
        std::string field = line.substr(0, eq), value = line.substr(eq + 1);
        field.erase(field.find_last_not_of(" \t") + 1);
        value.erase(0, value.find_first_not_of(" \t") == std::string::npos ? value.size() : value.find_first_not_of(" \t"));
        if (current.fields.empty()) {
            current.file = fileName;
            current.section = section;
            current.comment = comment;
            current.line = lineNo;
        }
        current.fields[field] = value;
    }
    flush();
    return records;
}

std::vector<VectorRecord> RecordsFor(const std::string& fileName, const std::string& algorithm,
                                     const std::vector<std::string>& excludedTags) {
    std::vector<VectorRecord> out;
    for (auto& rec : LoadVectors(fileName)) {
        const auto colon = rec.section.find(':');
        const std::string name = rec.section.substr(0, colon);
        const std::string tag = colon == std::string::npos ? "" : rec.section.substr(colon + 1);
        if (name != algorithm) continue;
        bool excluded = false;
        for (auto& t : excludedTags) excluded |= (t == tag);
        if (!excluded) out.push_back(rec);
    }
    return out;
}

}  // namespace kestrune::test
