#pragma once

#include <nlohmann/json.hpp>

#include "scripting/variant.h"

namespace FB {

// Values between JSON and the scripting core: null, booleans, numbers, text, lists and maps. Page
// objects and the plug-in's own scriptable objects cannot travel as JSON.
class JsonVariant {
  public:
    // Lists and maps nest at most this deep; deeper input is refused rather than walked.
    static constexpr int kMaxDepth = 32;

    // Integers that fit become int, larger ones long long, others double. Raises std::invalid_argument
    // for input nested deeper than kMaxDepth.
    static variant toVariant(const nlohmann::json& value);
    // An empty variant becomes null. Raises std::invalid_argument for an object, or a type JSON has no
    // form for.
    static nlohmann::json toJson(const variant& value);
};

}  // namespace FB
