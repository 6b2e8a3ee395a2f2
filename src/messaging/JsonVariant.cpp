#include "messaging/JsonVariant.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "scripting/utf_conversion.h"

namespace FB {

namespace {

using json = nlohmann::json;

variant fromJson(const json& value, int depth) {
    if (depth > JsonVariant::kMaxDepth)
        throw std::invalid_argument("values nest too deeply");
    switch (value.type()) {
        case json::value_t::null:
            return variant(variant_detail::null());
        case json::value_t::boolean:
            return value.get<bool>();
        case json::value_t::number_integer:
        case json::value_t::number_unsigned: {
            if (value.is_number_unsigned() &&
                value.get<std::uint64_t>() >
                    static_cast<std::uint64_t>(std::numeric_limits<long long>::max()))
                return value.get<double>();
            const auto number = value.get<long long>();
            if (number >= std::numeric_limits<int>::min() && number <= std::numeric_limits<int>::max())
                return static_cast<int>(number);
            return number;
        }
        case json::value_t::number_float:
            return value.get<double>();
        case json::value_t::string:
            return value.get<std::string>();
        case json::value_t::array: {
            VariantList list;
            list.reserve(value.size());
            for (const auto& element : value)
                list.push_back(fromJson(element, depth + 1));
            return list;
        }
        case json::value_t::object: {
            VariantMap map;
            for (const auto& [key, element] : value.items())
                map.emplace(key, fromJson(element, depth + 1));
            return map;
        }
        default:
            throw std::invalid_argument("a value JSON cannot carry");
    }
}

json numberJson(double number) {
    // As JSON.stringify does: no form for NaN or the infinities.
    return std::isfinite(number) ? json(number) : json(nullptr);
}

json toJsonAt(const variant& value, int depth) {
    if (depth > JsonVariant::kMaxDepth)
        throw std::invalid_argument("values nest too deeply");
    if (value.is_empty() || value.is_null())
        return nullptr;
    if (value.is_of_type<bool>())
        return value.get<bool>();
    if (value.is_of_type<std::string>())
        return value.get<std::string>();
    if (value.is_of_type<std::wstring>())
        return wideToUtf8(value.get<std::wstring>());
    if (value.is_of_type<char>() || value.is_of_type<short>() || value.is_of_type<int>() ||
        value.is_of_type<long>() || value.is_of_type<long long>())
        return value.convert<long long>();
    if (value.is_of_type<unsigned char>() || value.is_of_type<unsigned short>() ||
        value.is_of_type<unsigned int>() || value.is_of_type<unsigned long>() ||
        value.is_of_type<unsigned long long>())
        return value.convert<unsigned long long>();
    if (value.is_of_type<float>() || value.is_of_type<double>())
        return numberJson(value.convert<double>());
    if (value.is_of_type<VariantList>()) {
        json list = json::array();
        for (const auto& element : value.get<VariantList>())
            list.push_back(toJsonAt(element, depth + 1));
        return list;
    }
    if (value.is_of_type<VariantMap>()) {
        json map = json::object();
        for (const auto& [key, element] : value.get<VariantMap>())
            map[key] = toJsonAt(element, depth + 1);
        return map;
    }
    if (value.is_of_type<JSAPIPtr>() || value.is_of_type<JSAPIWeakPtr>() || value.is_of_type<JSObjectPtr>())
        throw std::invalid_argument("script objects cannot be sent to the page through the extension");
    throw std::invalid_argument(std::string("no JSON form for a value of type ") + value.type().name());
}

}  // namespace

variant JsonVariant::toVariant(const nlohmann::json& value) {
    return fromJson(value, 0);
}

nlohmann::json JsonVariant::toJson(const variant& value) {
    return toJsonAt(value, 0);
}

}  // namespace FB
