#include "control/serial_control.h"
#include "text/line_text.h"

#include <gtest/gtest.h>

namespace tolvak {
namespace {

// Every byte value, NUL and the upper half included, becomes the code unit of the same value.
TEST(LineText, EveryByteIsOneCodeUnitOfTheSameValue) {
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes.push_back(static_cast<char>(b));
    const std::u16string text = lineText(bytes);
    ASSERT_EQ(text.size(), bytes.size());
    for (size_t i = 0; i < text.size(); ++i)
        EXPECT_EQ(text[i], static_cast<char16_t>(i)) << i;
}

} // namespace
} // namespace tolvak
