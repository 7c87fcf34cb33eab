// The bytes stream_child writes and redirected_output_test expects.
#pragma once

#include <cstddef>
#include <string>

namespace stream_test {

// Every byte value, over and over: more than a pipe holds, so the writer
// blocks until the reader catches up.
inline std::string pattern() {
    std::string s;
    for (int i = 0; i < 256 * 400; ++i)
        s += static_cast<char>((i * 7 + i / 256) & 0xFF);
    return s;
}

// The size of each WriteFile.
inline constexpr std::size_t kChunk = 1000;

}  // namespace stream_test
