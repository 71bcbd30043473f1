// Fixture for the file operation tests: a fresh directory per test, with
// helpers to write, read and count its files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "object/UKestrune.h"

namespace kestrune {

class Files : public testing::Test {
protected:
    void SetUp() override {
        // Unique per run, so that two runs of the suite at once do not meet.
        dir_ = std::filesystem::temp_directory_path() /
               ("kestrune-files-" + std::to_string(std::random_device{}()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Leaves are UTF-8, whatever the platform's narrow encoding.
    std::filesystem::path Path(const std::string& leaf) const { return dir_ / std::u8string(leaf.begin(), leaf.end()); }
    std::u16string Name(const std::string& leaf) const { return Path(leaf).u16string(); }
    void Write(const std::string& leaf, const std::string& content) const {
        std::ofstream(Path(leaf), std::ios::binary) << content;
    }
    std::string Read(const std::string& leaf) const {
        std::ifstream in(Path(leaf), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Only the files the test made: no temporary file may be left behind.
    std::size_t FileCount() const {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator()));
    }
    static std::string Pattern(std::size_t size) {
        std::string s(size, '\0');
        for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 31 + 7);
        return s;
    }

    std::filesystem::path dir_;
    TKestrune k;
};

}  // namespace kestrune
