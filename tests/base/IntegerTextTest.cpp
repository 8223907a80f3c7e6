#include "base/IntegerText.h"
#include "base/Exception.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct Case {
    std::string text;
    std::optional<int32_t> value; // nullopt: the text must not convert
};

void Check(const Case& c) {
    int32_t v = 12345;
    EXPECT_EQ(TryTextToInt(c.text, v), c.value.has_value()) << "'" << c.text << "'";
    if (c.value) {
        EXPECT_EQ(v, *c.value) << "'" << c.text << "'";
        EXPECT_EQ(TextToInt(c.text), *c.value);
        EXPECT_EQ(TextToIntDef(c.text, 77), *c.value);
    } else {
        EXPECT_EQ(v, 12345) << "a refused text must leave the value alone";
        EXPECT_EQ(TextToIntDef(c.text, 77), 77);
        try {
            TextToInt(c.text);
            ADD_FAILURE() << "'" << c.text << "' converted";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "'" + c.text + "' is not a valid integer value");
        }
    }
}

const Case Cases[] = {
    // decimal, signs, blanks
    Case{"0", 0}, Case{"7", 7}, Case{"007", 7}, Case{"+5", 5}, Case{"-5", -5}, Case{"-0", 0},
    Case{"   42", 42}, Case{" -1", -1}, Case{"", std::nullopt}, Case{"   ", std::nullopt},
    Case{"42 ", std::nullopt}, Case{"\t42", std::nullopt}, Case{"- 5", std::nullopt},
    Case{"+", std::nullopt}, Case{"-", std::nullopt}, Case{"+-5", std::nullopt},
    Case{"1 2", std::nullopt}, Case{"12a", std::nullopt}, Case{"1.5", std::nullopt},
    Case{std::string("1\0"
                     "2",
                     3),
         std::nullopt},
    // 32-bit bounds of decimal
    Case{"2147483647", 2147483647}, Case{"2147483648", std::nullopt},
    Case{"-2147483648", INT32_MIN}, Case{"-2147483649", std::nullopt},
    Case{"0000000000002147483647", 2147483647}, Case{"99999999999999999999", std::nullopt},
    // hexadecimal prefixes
    Case{"$FF", 255}, Case{"$ff", 255}, Case{"xFF", 255}, Case{"XfF", 255}, Case{"0x0A", 10},
    Case{"0X1f", 31}, Case{"  $10", 16}, Case{"$", std::nullopt}, Case{"0x", std::nullopt},
    Case{"x", std::nullopt}, Case{"$G", std::nullopt}, Case{"-$5", std::nullopt},
    Case{"+0x5", std::nullopt}, Case{"$5 ", std::nullopt}, Case{"0 x5", std::nullopt},
    // hexadecimal bounds: the 32-bit pattern, leading zeros not counting
    Case{"$FFFFFFFF", -1}, Case{"0xFFFFFFFF", -1}, Case{"$80000000", INT32_MIN},
    Case{"$7FFFFFFF", 2147483647}, Case{"$000000001", 1}, Case{"$0000000000FFFFFFFF", -1},
    Case{"$100000000", std::nullopt}};

TEST(IntegerTextRule, CornersOfTheRule) {
    for (const Case& c : Cases) {
        Check(c);
    }
}

} // namespace
