#include "scripting/JSAPI.h"

#include "scripting/script_error.h"
#include "scripting/utf_conversion.h"

namespace FB {

JSAPI::~JSAPI() = default;

void JSAPI::addEventHandler(const std::wstring& name, const JSObjectPtr& handler) {
    addEventHandler(wideToUtf8(name), handler);
}

void JSAPI::addEventHandler(const std::string&, const JSObjectPtr&) {
    throw script_error("Not implemented");
}

void JSAPI::removeEventHandler(const std::wstring& name, const JSObjectPtr& handler) {
    removeEventHandler(wideToUtf8(name), handler);
}

void JSAPI::removeEventHandler(const std::string&, const JSObjectPtr&) {
    throw script_error("Not implemented");
}

void JSAPI::addEventInterface(const JSObjectPtr&) {
    throw script_error("Not implemented");
}

void JSAPI::removeEventInterface(const JSObjectPtr&) {
    throw script_error("Not implemented");
}

void JSAPI::listMemberNames(std::vector<std::wstring>& names) {
    names.clear();
    std::vector<std::string> utf8Names;
    listMemberNames(utf8Names);
    names.reserve(utf8Names.size());
    for (const auto& name : utf8Names) {
        names.push_back(utf8ToWide(name));
    }
}

bool JSAPI::hasMethod(const std::wstring& name) {
    return hasMethod(wideToUtf8(name));
}

bool JSAPI::hasMethodHandle(const std::wstring& name) {
    return hasMethodHandle(wideToUtf8(name));
}

bool JSAPI::hasProperty(const std::wstring& name) {
    return hasProperty(wideToUtf8(name));
}

JSAPIPtr JSAPI::methodHandle(const std::wstring& name) {
    return methodHandle(wideToUtf8(name));
}

variant JSAPI::getProperty(const std::wstring& name) {
    return getProperty(wideToUtf8(name));
}

void JSAPI::setProperty(const std::wstring& name, const variant& value) {
    setProperty(wideToUtf8(name), value);
}

void JSAPI::removeProperty(const std::wstring& name) {
    removeProperty(wideToUtf8(name));
}

variant JSAPI::invoke(const std::wstring& name, const VariantList& args) {
    return invoke(wideToUtf8(name), args);
}

variant JSAPI::memberValue(const std::string& name) {
    if (hasMethodHandle(name)) {
        return variant(methodHandle(name));
    }
    return getProperty(name);
}

variant JSAPI::invokeInZone(SecurityZone zone, const std::string& name, const VariantList& args) {
    ScopedZone scoped(*this, zone);
    return invoke(name, args);
}

}  // namespace FB
