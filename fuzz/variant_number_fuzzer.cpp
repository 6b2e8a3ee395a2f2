// The variant's conversions to every number type and to bool, from text (narrow and wide) and from
// every stored number type. Text: all integer targets that accept a text agree on its value, unsigned
// targets never accept a negative one, bool never fails, and the wide form of a text converts exactly
// as the narrow one. Numbers: a conversion succeeds exactly when the value (truncated toward zero for
// floating sources) lies in the target's range, and then gives that value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>

#include <utf8.h>

#include "FuzzInput.h"
#include "scripting/utf_conversion.h"
#include "scripting/variant.h"

namespace {

using FB::variant;

template <class T>
std::optional<T> attempt(const variant& v) {
    try {
        return v.convert<T>();
    } catch (const FB::bad_variant_cast&) {
        return std::nullopt;
    }
}

template <class T>
bool same(const std::optional<T>& a, const std::optional<T>& b) {
    if (a.has_value() != b.has_value()) {
        return false;
    }
    if constexpr (std::is_floating_point_v<T>) {
        return !a || (std::isnan(*a) && std::isnan(*b)) || *a == *b;
    } else {
        return !a || *a == *b;
    }
}

// ---- From text -------------------------------------------------------------------------------

struct TextResults {
    std::optional<char> c;
    std::optional<short> s;
    std::optional<unsigned short> us;
    std::optional<int> i;
    std::optional<unsigned int> ui;
    std::optional<long> l;
    std::optional<unsigned long> ul;
    std::optional<long long> ll;
    std::optional<unsigned long long> ull;
    std::optional<float> f;
    std::optional<double> d;
    std::optional<bool> b;

    explicit TextResults(const variant& v)
        : c(attempt<char>(v)),
          s(attempt<short>(v)),
          us(attempt<unsigned short>(v)),
          i(attempt<int>(v)),
          ui(attempt<unsigned int>(v)),
          l(attempt<long>(v)),
          ul(attempt<unsigned long>(v)),
          ll(attempt<long long>(v)),
          ull(attempt<unsigned long long>(v)),
          f(attempt<float>(v)),
          d(attempt<double>(v)),
          b(attempt<bool>(v)) {}

    bool operator==(const TextResults& o) const {
        return same(c, o.c) && same(s, o.s) && same(us, o.us) && same(i, o.i) && same(ui, o.ui) &&
               same(l, o.l) && same(ul, o.ul) && same(ll, o.ll) && same(ull, o.ull) && same(f, o.f) &&
               same(d, o.d) && same(b, o.b);
    }
};

// Every integer result that is present equals `*agreed`, which the first one sets.
template <class T>
void agree(const std::optional<T>& result, std::optional<__int128>& agreed) {
    if (!result) {
        return;
    }
    const auto value = static_cast<__int128>(*result);
    if (!agreed) {
        agreed = value;
    }
    FUZZ_CHECK(*agreed == value);
}

template <class T>
void notNegative(const std::optional<T>& result, bool negativeText) {
    FUZZ_CHECK(!result || !negativeText || *result == 0);
}

void fromText(const std::string& text) {
    const TextResults narrow{variant(text)};
    std::optional<__int128> agreed;
    agree(narrow.s, agreed);
    agree(narrow.us, agreed);
    agree(narrow.i, agreed);
    agree(narrow.ui, agreed);
    agree(narrow.l, agreed);
    agree(narrow.ul, agreed);
    agree(narrow.ll, agreed);
    agree(narrow.ull, agreed);
    const auto first = text.find_first_not_of(" \t\n\v\f\r");
    const bool negative = first != std::string::npos && text[first] == '-';
    notNegative(narrow.us, negative);
    notNegative(narrow.ui, negative);
    notNegative(narrow.ul, negative);
    notNegative(narrow.ull, negative);
    FUZZ_CHECK(narrow.b.has_value());

    std::wstring wide;
    try {
        wide = FB::utf8ToWide(text);
    } catch (const utf8::exception&) {
        return;
    }
    FUZZ_CHECK(TextResults{variant(wide)} == narrow);
}

// ---- From stored numbers ---------------------------------------------------------------------

template <class T, class S>
bool integerInRange(S source) {
    const auto value = static_cast<__int128>(source);
    return value >= static_cast<__int128>(std::numeric_limits<T>::min()) &&
           value <= static_cast<__int128>(std::numeric_limits<T>::max());
}

template <class T, class S>
void checkNumber(S source) {
    const std::optional<T> out = attempt<T>(variant(source));
    if constexpr (std::is_same_v<T, S>) {
        FUZZ_CHECK(same(out, std::optional<T>(source)));
    } else if constexpr (std::is_integral_v<T> && std::is_integral_v<S>) {
        FUZZ_CHECK(out.has_value() == integerInRange<T>(source));
        FUZZ_CHECK(!out || static_cast<__int128>(*out) == static_cast<__int128>(source));
    } else if constexpr (std::is_integral_v<T>) {
        // Floating source: the value truncated toward zero must lie in T's range.
        const long double whole = std::trunc(static_cast<long double>(source));
        const bool inRange = !std::isnan(whole) &&
                             whole >= static_cast<long double>(std::numeric_limits<T>::min()) &&
                             whole <= static_cast<long double>(std::numeric_limits<T>::max());
        FUZZ_CHECK(out.has_value() == inRange);
        FUZZ_CHECK(!out || static_cast<long double>(*out) == whole);
    } else if constexpr (std::is_integral_v<S>) {
        FUZZ_CHECK(out && *out == static_cast<T>(source));
    } else {
        // Floating to floating: only a double beyond float's range is refused.
        const bool fits = std::isnan(source) || std::fabs(static_cast<long double>(source)) <=
                                                    static_cast<long double>(std::numeric_limits<T>::max());
        FUZZ_CHECK(out.has_value() == fits);
        FUZZ_CHECK(same(out, fits ? std::optional<T>(static_cast<T>(source)) : std::nullopt));
    }
}

template <class S>
void checkBool(S source) {
    const std::optional<bool> out = attempt<bool>(variant(source));
    const std::optional<long> asLong = attempt<long>(variant(source));
    FUZZ_CHECK(out.has_value() == asLong.has_value());
    FUZZ_CHECK(!out || *out == (*asLong != 0));
}

template <class S>
void fromNumber(S source) {
    checkNumber<char>(source);
    checkNumber<short>(source);
    checkNumber<unsigned short>(source);
    checkNumber<int>(source);
    checkNumber<unsigned int>(source);
    checkNumber<long>(source);
    checkNumber<unsigned long>(source);
    checkNumber<long long>(source);
    checkNumber<unsigned long long>(source);
    checkNumber<float>(source);
    checkNumber<double>(source);
    checkBool(source);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    switch (in.pick(14)) {
        case 0:
            fromNumber(in.value<char>());
            break;
        case 1:
            fromNumber(in.value<unsigned char>());
            break;
        case 2:
            fromNumber(in.value<short>());
            break;
        case 3:
            fromNumber(in.value<unsigned short>());
            break;
        case 4:
            fromNumber(in.value<int>());
            break;
        case 5:
            fromNumber(in.value<unsigned int>());
            break;
        case 6:
            fromNumber(in.value<long>());
            break;
        case 7:
            fromNumber(in.value<unsigned long>());
            break;
        case 8:
            fromNumber(in.value<long long>());
            break;
        case 9:
            fromNumber(in.value<unsigned long long>());
            break;
        case 10:
            fromNumber(in.value<float>());
            break;
        case 11:
            fromNumber(in.value<double>());
            break;
        case 12: {
            const bool value = in.flag();
            FUZZ_CHECK(attempt<int>(variant(value)) == (value ? 1 : 0));
            FUZZ_CHECK(attempt<bool>(variant(value)) == value);
            break;
        }
        default:
            fromText(in.rest());
            break;
    }
    return 0;
}
