#include "app/digits.h"

#include "runtime/core/number_text.h"

namespace app {

rt::StringDescriptor number_text;
rt::StringDescriptor base_text;
std::int64_t number;
std::int64_t base;
std::array<std::int64_t, kDigitSlots> DigitTable;
std::int64_t digit_index;

namespace {

// A value is taken only when writing it back gives the very text typed: that
// leaves the canonical decimal form alone. A number's decimal form is never
// empty, so an empty one means the text could not be made; it must not match
// an empty typed text and turn a shortage into an answer.
bool round_trip_differs(std::int64_t value, const rt::StringDescriptor& text) {
    rt::StringDescriptor* back = rt::int64_to_text(value);
    if (rt::text_length(*back) == 0) {
        rt::text_release(back);
        return true;
    }
    return rt::text_compare(back, rt::kDescriptorSize, &text, rt::kDescriptorSize) != 0;
}

}  // namespace

void read_values() {
    number = rt::round_to_int64(rt::text_to_double(&number_text));
    base = rt::round_to_int64(rt::text_to_double(&base_text));
}

bool input_is_wrong() {
    const bool number_differs = round_trip_differs(number, number_text);
    const bool base_differs = round_trip_differs(base, base_text);
    return number_differs || base_differs || number < 0 || base < kMinBase || number > kMaxValue || base > kMaxValue;
}

void divide_into_digits() {
    // Starting from slot 0 here as well keeps a repeated call inside the table.
    digit_index = 0;
    while (number >= base) {
        DigitTable[static_cast<std::size_t>(digit_index)] = number % base;
        number /= base;
        ++digit_index;
    }
    DigitTable[static_cast<std::size_t>(digit_index)] = number % base;
}

bool print_digits(PrintOperation print) {
    // Every digit's text is made before anything is printed: a text that
    // cannot be made (no memory) would leave a bare "d" in the answer.
    std::array<rt::StringDescriptor*, kDigitSlots> texts{};
    const auto count = static_cast<std::size_t>(digit_index + 1);
    bool made = true;
    for (std::size_t i = 0; i < count; ++i) {
        texts[i] = rt::int64_to_text(DigitTable[count - 1 - i]);
        made = made && rt::text_length(*texts[i]) != 0;
    }
    digit_index = -1;
    for (std::size_t i = 0; i < count; ++i) {
        if (!made) {
            rt::text_release(texts[i]);
            continue;
        }
        print(rt::text_view("d"), 0);
        print(texts[i], 0);
        print(rt::text_view(" "), 0);
    }
    return made;
}

bool print_answer(PrintOperation print) {
    read_values();
    if (input_is_wrong()) return false;
    divide_into_digits();
    return print_digits(print);
}

}  // namespace app
