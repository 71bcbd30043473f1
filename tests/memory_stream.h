// A stream in memory for the tests of stream operations: reads what it
// holds from the start, appends what is written, and can deliver little per
// read or raise after a number of calls, as a caller's stream may.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

#include "framework/KCcrypt.h"

namespace kestrune::test {

class MemoryStream : public TKC_stream {
public:
    explicit MemoryStream(std::vector<std::uint8_t> bytes = {}, std::size_t most = SIZE_MAX)
        : data(std::move(bytes)), most_(most) {}
    std::size_t Read(Bytes buffer) override {
        if (++reads > failAt) throw std::runtime_error("read failed");
        const std::size_t n = std::min({buffer.size(), data.size() - position, most_});
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(position), n, buffer.begin());
        position += n;
        return n;
    }
    std::size_t Write(ConstBytes buffer) override {
        if (++writes > failAt) throw std::runtime_error("write failed");
        data.insert(data.end(), buffer.begin(), buffer.end());
        return buffer.size();
    }
    std::vector<std::uint8_t> data;
    std::size_t position = 0, reads = 0, writes = 0;
    std::size_t failAt = SIZE_MAX;  // calls after this many raise

private:
    std::size_t most_;  // delivered per read at most
};

}  // namespace kestrune::test
