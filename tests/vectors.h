// Reader for the known-answer files in tests/data: sections of
// "Field = value" records, with the comment line above each record kept so
// that a failure can name where the record came from.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kestrune::test {

struct VectorRecord {
    std::string file;
    std::string section;  // "Name" or "Name:tag"
    std::string comment;  // the comment line just above the record
    int line = 0;         // line of the record's first field
    std::map<std::string, std::string> fields;

    bool Has(const std::string& field) const { return fields.count(field) != 0; }
    std::vector<std::uint8_t> Bytes(const std::string& field) const;
    long Number(const std::string& field, long fallback) const;
    // "file:line [section] comment", for failure messages.
    std::string Where() const;
};

// All records of a file in tests/data.
std::vector<VectorRecord> LoadVectors(const std::string& fileName);

// The records whose section name (before any ":tag") is algorithm, leaving
// out the given tags.
std::vector<VectorRecord> RecordsFor(const std::string& fileName, const std::string& algorithm,
                                     const std::vector<std::string>& excludedTags = {});

std::vector<std::uint8_t> FromHex(const std::string& hex);
std::string ToHex(const std::vector<std::uint8_t>& bytes);

}  // namespace kestrune::test
