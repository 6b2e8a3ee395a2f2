#include "scripting/variant.h"

#include <cxxabi.h>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <sstream>
#include <typeindex>
#include <unordered_map>

#include <boost/numeric/conversion/cast.hpp>

#include "scripting/JSObject.h"
#include "scripting/script_error.h"
#include "scripting/utf_conversion.h"

namespace FB {

const std::string& typeName(const std::type_info& type) {
    // Demangling allocates; names are computed once per type and kept for the process.
    static std::mutex lock;
    static std::unordered_map<std::type_index, std::string> names;
    std::lock_guard<std::mutex> guard(lock);
    auto found = names.find(type);
    if (found != names.end()) {
        return found->second;
    }
    int status = 0;
    char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string name = (status == 0 && demangled != nullptr) ? demangled : type.name();
    std::free(demangled);  // NOLINT: __cxa_demangle hands out malloc'd memory
    return names.emplace(type, std::move(name)).first->second;
}

bad_variant_cast::bad_variant_cast(const std::type_info& from, const std::type_info& to)
    : from_(typeName(from)), to_(typeName(to)) {}

bad_variant_cast::bad_variant_cast(const std::type_info& from, std::string toName)
    : from_(typeName(from)), to_(std::move(toName)) {}

variant::variant(const char* text) : ops_(opsOf<variant_detail::empty>()) {
    if (text == nullptr) {
        store<variant_detail::null>(variant_detail::null{});
    } else {
        store<std::string>(std::string(text));
    }
}

variant::variant(const wchar_t* text) : ops_(opsOf<variant_detail::empty>()) {
    if (text == nullptr) {
        store<variant_detail::null>(variant_detail::null{});
    } else {
        store<std::wstring>(std::wstring(text));
    }
}

bool variant::less(const variant& other) const {
    if (ops_ == other.ops_ || type() == other.type()) {
        return ops_->less(slot_, other.slot_);
    }
    return typeName(type()) < typeName(other.type());
}

namespace variant_detail {
namespace {

// Range-checked conversion from one stored numeric type; false when the stored type is not S.
template <class T, class S>
bool numberFrom(const variant& v, T& out) {
    if (!v.is_of_type<S>()) {
        return false;
    }
    const S value = v.get<S>();
    if constexpr (std::is_integral_v<T> && std::is_floating_point_v<S>) {
        // NaN passes every range comparison; converting it to an integer is undefined.
        if (std::isnan(value)) {
            throw bad_variant_cast(v.type(), typeid(T));
        }
    }
    if constexpr (std::is_integral_v<T> && std::is_floating_point_v<S>) {
        // Accepted: the open interval (min - 1, max + 1), that is every value whose truncation lies in
        // [min, max]. Both bounds below are 0 or powers of two, so S holds them exactly; computing
        // min - 1 or max + 1 in S instead would round them onto the range's own ends.
        const S truncated = std::trunc(value);
        const S lowest = static_cast<S>(std::numeric_limits<T>::min());
        const S pastHighest = std::ldexp(S(1), std::numeric_limits<T>::digits);
        if (!(truncated >= lowest && truncated < pastHighest)) {
            throw bad_variant_cast(v.type(), typeid(T));
        }
        out = static_cast<T>(truncated);
        return true;
    }
    try {
        out = boost::numeric_cast<T>(value);
    } catch (const boost::numeric::bad_numeric_cast&) {
        throw bad_variant_cast(v.type(), typeid(T));
    }
    return true;
}

// A read-only stream buffer over text that stays where it is: parsing a number leaves no copy of the
// text behind (it may be a PIN typed on the page).
class TextView : public std::streambuf {
  public:
    explicit TextView(const std::string& text) {
        char* begin = const_cast<char*>(text.data());  // only ever read through the get area
        setg(begin, begin, begin + text.size());
    }
};

// Overwrites a text of our own before it goes.
void wipe(std::string& text) noexcept {
    volatile char* p = text.data();
    for (std::size_t i = 0; i < text.size(); ++i) {
        p[i] = 'X';
    }
}

// One extraction of T from a narrow stream over the text.
template <class T>
T numberFromText(const variant& v, const std::string& text) {
    TextView view(text);
    std::istream in(&view);
    T value{};
    in >> value;
    if (in.fail()) {
        throw bad_variant_cast(v.type(), typeid(T));
    }
    if constexpr (std::is_integral_v<T> && std::is_unsigned_v<T> && !std::is_same_v<T, char>) {
        // The stream wraps a negative text into a huge unsigned number; refuse it instead.
        const auto first = text.find_first_not_of(" \t\n\v\f\r");
        if (value != 0 && first != std::string::npos && text[first] == '-') {
            throw bad_variant_cast(v.type(), typeid(T));
        }
    }
    return value;
}

template <class Stream, class S>
bool writeNumber(const variant& v, Stream& out) {
    if (!v.is_of_type<S>()) {
        return false;
    }
    out << v.get<S>();
    return true;
}

template <class Stream, class... S>
bool writeAnyNumber(const variant& v, Stream& out) {
    return (writeNumber<Stream, S>(v, out) || ...);
}

template <class Char>
Char lowerUnit(Char c) {
    const auto code = static_cast<unsigned long>(static_cast<std::make_unsigned_t<Char>>(c));
    if (code > 0xFF) {
        return c;
    }
    return static_cast<Char>(std::tolower(static_cast<int>(code)));
}

template <class String>
bool textIsTrue(String text) {
    for (auto& c : text) {
        c = lowerUnit(c);
    }
    static const char* const yes[] = {"y", "1", "yes", "true", "t"};
    for (const char* word : yes) {
        if (text == String(word, word + std::char_traits<char>::length(word))) {
            return true;
        }
    }
    return false;
}

// The object test shared by the list and map conversions.
JSObjectPtr objectOrFail(const variant& v) {
    JSObjectPtr object;
    try {
        object = toObject(v);
    } catch (const bad_variant_cast&) {
        throw bad_variant_cast(v.type(), typeid(JSObjectPtr));
    }
    if (!object) {
        throw bad_variant_cast(v.type(), typeid(JSObjectPtr));
    }
    return object;
}

}  // namespace

template <class T>
T toNumber(const variant& v) {
    if (v.is_of_type<T>()) {
        return v.get<T>();
    }
    T out{};
    if (numberFrom<T, char>(v, out) || numberFrom<T, unsigned char>(v, out) || numberFrom<T, short>(v, out) ||
        numberFrom<T, unsigned short>(v, out) || numberFrom<T, int>(v, out) ||
        numberFrom<T, unsigned int>(v, out) || numberFrom<T, long>(v, out) ||
        numberFrom<T, unsigned long>(v, out) || numberFrom<T, long long>(v, out) ||
        numberFrom<T, unsigned long long>(v, out) || numberFrom<T, float>(v, out) ||
        numberFrom<T, double>(v, out)) {
        return out;
    }
    if (v.is_of_type<bool>()) {
        return static_cast<T>(v.get<bool>() ? 1 : 0);
    }
    if (const auto* text = v.peek<std::string>()) {
        return numberFromText<T>(v, *text);
    }
    if (const auto* wide = v.peek<std::wstring>()) {
        std::string text = wideToUtf8(*wide);
        try {
            const T value = numberFromText<T>(v, text);
            wipe(text);
            return value;
        } catch (...) {
            wipe(text);
            throw;
        }
    }
    throw bad_variant_cast(v.type(), typeid(T));
}

template char toNumber<char>(const variant&);
template short toNumber<short>(const variant&);
template unsigned short toNumber<unsigned short>(const variant&);
template int toNumber<int>(const variant&);
template unsigned int toNumber<unsigned int>(const variant&);
template long toNumber<long>(const variant&);
template unsigned long toNumber<unsigned long>(const variant&);
template long long toNumber<long long>(const variant&);
template unsigned long long toNumber<unsigned long long>(const variant&);
template float toNumber<float>(const variant&);
template double toNumber<double>(const variant&);

bool toBool(const variant& v) {
    if (v.is_of_type<bool>()) {
        return v.get<bool>();
    }
    if (v.is_of_type<std::string>()) {
        return textIsTrue(v.get<std::string>());
    }
    if (v.is_of_type<std::wstring>()) {
        return textIsTrue(v.get<std::wstring>());
    }
    try {
        return toNumber<long>(v) != 0;
    } catch (const bad_variant_cast&) {
        throw bad_variant_cast(v.type(), typeid(bool));
    }
}

std::string toString(const variant& v) {
    if (v.is_of_type<std::string>()) {
        return v.get<std::string>();
    }
    std::ostringstream out;
    if (writeAnyNumber<std::ostringstream, double, float, int, unsigned int, long, unsigned long, short,
                       unsigned short, long long, unsigned long long>(v, out)) {
        if (out.fail()) {
            throw bad_variant_cast(v.type(), typeid(std::string));
        }
        return out.str();
    }
    if (v.is_of_type<bool>()) {
        return v.get<bool>() ? "true" : "false";
    }
    if (v.is_of_type<std::wstring>()) {
        return wideToUtf8(v.get<std::wstring>());
    }
    if (v.is_of_type<char>()) {
        return std::string(1, v.get<char>());
    }
    if (v.is_of_type<unsigned char>()) {
        return std::string(1, static_cast<char>(v.get<unsigned char>()));
    }
    throw bad_variant_cast(v.type(), typeid(std::string));
}

std::wstring toWide(const variant& v) {
    if (v.is_of_type<std::wstring>()) {
        return v.get<std::wstring>();
    }
    std::wostringstream out;
    if (writeAnyNumber<std::wostringstream, double, float, int, unsigned int, long, unsigned long, short,
                       unsigned short>(v, out)) {
        if (out.fail()) {
            throw bad_variant_cast(v.type(), typeid(std::wstring));
        }
        return out.str();
    }
    if (v.is_of_type<bool>()) {
        return v.get<bool>() ? L"true" : L"false";
    }
    if (v.is_of_type<std::string>()) {
        return utf8ToWide(v.get<std::string>());
    }
    // A character becomes its code unit; a negative char is taken as its byte value.
    if (v.is_of_type<char>()) {
        return std::wstring(1, static_cast<wchar_t>(static_cast<unsigned char>(v.get<char>())));
    }
    if (v.is_of_type<unsigned char>()) {
        return std::wstring(1, static_cast<wchar_t>(v.get<unsigned char>()));
    }
    throw bad_variant_cast(v.type(), typeid(std::wstring));
}

JSObjectPtr toObject(const variant& v) {
    if (v.is_of_type<JSObjectPtr>()) {
        return v.get<JSObjectPtr>();
    }
    JSAPIPtr api;
    if (v.is_of_type<JSAPIWeakPtr>()) {
        api = v.get<JSAPIWeakPtr>().lock();
    } else if (v.is_empty() || v.is_null()) {
        return {};
    } else {
        api = v.get<JSAPIPtr>();
    }
    if (!api) {
        return {};
    }
    auto object = std::dynamic_pointer_cast<JSObject>(api);
    if (!object) {
        throw bad_variant_cast(v.type(), typeid(JSObject));
    }
    // A page-side wrapper of one of our own objects unwraps to that object when it is a JSObject.
    if (auto wrapped = std::dynamic_pointer_cast<JSObject>(object->getWrappedAPI())) {
        return wrapped;
    }
    return object;
}

JSAPIPtr toApi(const variant& v) {
    if (v.is_of_type<JSAPIPtr>()) {
        return v.get<JSAPIPtr>();
    }
    if (v.is_of_type<JSObjectPtr>()) {
        return v.get<JSObjectPtr>();
    }
    if (v.is_of_type<JSAPIWeakPtr>()) {
        return v.get<JSAPIWeakPtr>().lock();
    }
    if (v.is_empty() || v.is_null()) {
        return {};
    }
    throw bad_variant_cast(v.type(), typeid(JSAPIPtr));
}

VariantList toList(const variant& v) {
    if (v.is_of_type<VariantList>()) {
        return v.get<VariantList>();
    }
    VariantList values;
    readArrayValues(objectOrFail(v), values);
    return values;
}

VariantMap toMap(const variant& v) {
    if (v.is_of_type<VariantMap>()) {
        return v.get<VariantMap>();
    }
    VariantMap values;
    readObjectValues(objectOrFail(v), values);
    return values;
}

}  // namespace variant_detail

void variant::overwriteText() noexcept {
    if (is_of_type<std::string>()) {
        variant_detail::wipe(variant_detail::ref<std::string>(slot_));
    } else if (is_of_type<std::wstring>()) {
        std::wstring& text = variant_detail::ref<std::wstring>(slot_);
        volatile wchar_t* p = text.data();
        for (std::size_t i = 0; i < text.size(); ++i) {
            p[i] = L'X';
        }
    }
}

}  // namespace FB
