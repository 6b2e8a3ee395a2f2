#include "PageValue.h"

#include <cstring>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "FakeBrowser.h"

namespace FB::Npapi {

PageValue::PageValue(std::nullptr_t) : value_(Null{}) {}
PageValue::PageValue(bool value) : value_(value) {}
PageValue::PageValue(int32_t value) : value_(value) {}
PageValue::PageValue(double value) : value_(value) {}
PageValue::PageValue(std::string text) : value_(std::move(text)) {}
PageValue::PageValue(const char* text) : value_(std::string(text)) {}

PageValue::PageValue(NPObject* object) {
    if (object == nullptr) {
        value_ = Null{};
        return;
    }
    value_ = object;
    retain();
}

PageValue::~PageValue() {
    release();
}

PageValue::PageValue(const PageValue& other) : value_(other.value_) {
    retain();
}

PageValue::PageValue(PageValue&& other) noexcept : value_(std::move(other.value_)) {
    other.value_ = Void{};
}

PageValue& PageValue::operator=(const PageValue& other) {
    if (this != &other) {
        other.retain();
        release();
        value_ = other.value_;
    }
    return *this;
}

PageValue& PageValue::operator=(PageValue&& other) noexcept {
    if (this != &other) {
        release();
        value_ = std::move(other.value_);
        other.value_ = Void{};
    }
    return *this;
}

PageValue PageValue::adopt(NPObject* object) {
    if (object == nullptr) {
        return PageValue(nullptr);
    }
    return PageValue(Storage(object));
}

PageValue PageValue::copyOf(const NPVariant& variant) {
    switch (variant.type) {
        case NPVariantType_Void:
            return PageValue();
        case NPVariantType_Null:
            return PageValue(nullptr);
        case NPVariantType_Bool:
            return PageValue(variant.value.boolValue);
        case NPVariantType_Int32:
            return PageValue(variant.value.intValue);
        case NPVariantType_Double:
            return PageValue(variant.value.doubleValue);
        case NPVariantType_String: {
            const NPString& s = variant.value.stringValue;
            return PageValue(s.UTF8Characters == nullptr ? std::string()
                                                         : std::string(s.UTF8Characters, s.UTF8Length));
        }
        case NPVariantType_Object:
            return PageValue(variant.value.objectValue);
    }
    return PageValue();
}

PageValue PageValue::take(NPVariant& variant) {
    PageValue result;
    if (variant.type == NPVariantType_Object) {
        result = adopt(variant.value.objectValue);
    } else {
        result = copyOf(variant);
        if (variant.type == NPVariantType_String) {
            if (FakeBrowser* browser = FakeBrowser::current()) {
                browser->memFree(const_cast<NPUTF8*>(variant.value.stringValue.UTF8Characters));
            }
        }
    }
    variant.type = NPVariantType_Void;
    variant.value.objectValue = nullptr;
    return result;
}

NPVariant PageValue::toNPVariant() const {
    NPVariant v = borrow();
    if (isString()) {
        const std::string& text = asString();
        FakeBrowser* browser = FakeBrowser::current();
        char* copy =
            browser ? static_cast<char*>(browser->memAlloc(static_cast<uint32_t>(text.size() + 1))) : nullptr;
        if (copy != nullptr) {
            std::memcpy(copy, text.c_str(), text.size() + 1);
        }
        v.value.stringValue.UTF8Characters = copy;
        v.value.stringValue.UTF8Length = copy ? static_cast<uint32_t>(text.size()) : 0;
    } else if (isObject()) {
        retain();
    }
    return v;
}

NPVariant PageValue::borrow() const {
    NPVariant v;
    v.value.objectValue = nullptr;
    switch (type()) {
        case Type::Void:
            v.type = NPVariantType_Void;
            break;
        case Type::Null:
            v.type = NPVariantType_Null;
            break;
        case Type::Bool:
            v.type = NPVariantType_Bool;
            v.value.boolValue = std::get<bool>(value_);
            break;
        case Type::Int32:
            v.type = NPVariantType_Int32;
            v.value.intValue = std::get<int32_t>(value_);
            break;
        case Type::Double:
            v.type = NPVariantType_Double;
            v.value.doubleValue = std::get<double>(value_);
            break;
        case Type::String: {
            const std::string& text = std::get<std::string>(value_);
            v.type = NPVariantType_String;
            v.value.stringValue.UTF8Characters = text.c_str();
            v.value.stringValue.UTF8Length = static_cast<uint32_t>(text.size());
            break;
        }
        case Type::Object:
            v.type = NPVariantType_Object;
            v.value.objectValue = std::get<NPObject*>(value_);
            break;
    }
    return v;
}

namespace {
[[noreturn]] void wrongType(const PageValue& value, const char* wanted) {
    std::ostringstream text;
    text << "page value " << value << " is not " << wanted;
    throw std::logic_error(text.str());
}
}  // namespace

bool PageValue::asBool() const {
    if (!isBool()) {
        wrongType(*this, "a bool");
    }
    return std::get<bool>(value_);
}

int32_t PageValue::asInt32() const {
    if (!isInt32()) {
        wrongType(*this, "an int32");
    }
    return std::get<int32_t>(value_);
}

double PageValue::asNumber() const {
    if (isInt32()) {
        return std::get<int32_t>(value_);
    }
    if (!isDouble()) {
        wrongType(*this, "a number");
    }
    return std::get<double>(value_);
}

const std::string& PageValue::asString() const {
    if (!isString()) {
        wrongType(*this, "a string");
    }
    return std::get<std::string>(value_);
}

NPObject* PageValue::asObject() const {
    if (!isObject()) {
        wrongType(*this, "an object");
    }
    return std::get<NPObject*>(value_);
}

std::string PageValue::describe() const {
    switch (type()) {
        case Type::Void:
            return "undefined";
        case Type::Null:
            return "null";
        case Type::Bool:
            return std::get<bool>(value_) ? "true" : "false";
        case Type::Int32:
            return std::to_string(std::get<int32_t>(value_));
        case Type::Double: {
            std::ostringstream text;
            text << std::get<double>(value_);
            return text.str();
        }
        case Type::String:
            return std::get<std::string>(value_);
        case Type::Object:
            return "[object]";
    }
    return {};
}

bool PageValue::operator==(const PageValue& other) const {
    return value_ == other.value_;
}

void PageValue::retain() const {
    if (auto object = std::get_if<NPObject*>(&value_)) {
        if (FakeBrowser* browser = FakeBrowser::current()) {
            browser->retain(*object);
        }
    }
}

void PageValue::release() {
    if (auto object = std::get_if<NPObject*>(&value_)) {
        NPObject* held = *object;
        value_ = Void{};
        if (FakeBrowser* browser = FakeBrowser::current()) {
            browser->release(held);
        }
    }
}

std::ostream& operator<<(std::ostream& out, const PageValue& value) {
    switch (value.type()) {
        case PageValue::Type::String:
            return out << '"' << value.asString() << '"';
        case PageValue::Type::Object:
            return out << "[object " << static_cast<const void*>(value.asObject()) << ']';
        default:
            return out << value.describe();
    }
}

}  // namespace FB::Npapi
