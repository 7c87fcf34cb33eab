// Texts as the runtime's own producers make them, for tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

#include "runtime/core/text.h"

namespace rt_testing {

// A flagged temporary holding `bytes`, with its terminator.
inline rt::StringDescriptor* temp_of(std::string_view bytes) {
    rt::StringDescriptor* text = rt::temp_text_alloc(nullptr, static_cast<std::int32_t>(bytes.size()));
    EXPECT_NE(text, nullptr);
    bytes.copy(text->data, bytes.size());
    text->data[bytes.size()] = '\0';
    return text;
}

}  // namespace rt_testing
