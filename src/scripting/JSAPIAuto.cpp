#include "scripting/JSAPIAuto.h"

#include <atomic>

#include "scripting/JSFunction.h"
#include "scripting/JSObject.h"
#include "scripting/utf_conversion.h"

namespace FB {

namespace {

std::atomic<bool> defaultAllowRemoveProperties{false};

// Names the browser probes on the plug-in element for layout and DOM queries; they never become
// dynamic attributes.
const char* const reservedNames[] = {
    "offsetWidth", "offsetHeight",    "width",     "height", "attributes", "nodeType",   "namespaceURI",
    "localName",   "wrappedJSObject", "prototype", "style",  "id",         "constructor"};

using Lock = std::lock_guard<RecursiveLock>;

std::string conversionMessage(const bad_variant_cast& e) {
    return "Could not convert from " + e.from() + " to " + e.to();
}

}  // namespace

JSAPIAuto::JSAPIAuto(const std::string& description) : JSAPIAuto(SecurityScope_Public, description) {}

JSAPIAuto::JSAPIAuto(SecurityZone zone, const std::string& description)
    : JSAPIImpl(zone),
      description_(description),
      allowRemoveProperties_(defaultAllowRemoveProperties.load()) {
    registerBuiltIns();
}

JSAPIAuto::~JSAPIAuto() = default;

void JSAPIAuto::registerBuiltIns() {
    {
        ScopedZone publicZone(*this, SecurityScope_Public);
        JSAPIAuto::addMethod("toString", bindMethod(this, &JSAPIAuto::toString));
        JSAPIAuto::addMethod("getAttribute", bindMethod(this, &JSAPIAuto::getAttribute));
        JSAPIAuto::addMethod("setAttribute", bindMethod(this, &JSAPIAuto::setAttribute));
        JSAPIAuto::addProperty("value", bindProperty(this, &JSAPIAuto::toString));
        JSAPIAuto::addProperty("valid", bindProperty(this, &JSAPIAuto::isValid));
    }
    for (const char* name : reservedNames) {
        JSAPIAuto::reserveName(name);
    }
}

void JSAPIAuto::clearReservedNames() {
    Lock lock(zoneMutex());
    reserved_.clear();
}

void JSAPIAuto::setAllowDynamicAttributes(bool allow) {
    Lock lock(zoneMutex());
    allowDynamicAttributes_ = allow;
}

void JSAPIAuto::setAllowRemoveProperties(bool allow) {
    Lock lock(zoneMutex());
    allowRemoveProperties_ = allow;
}

void JSAPIAuto::setAllowMethodObjects(bool allow) {
    Lock lock(zoneMutex());
    allowMethodObjects_ = allow;
}

void JSAPIAuto::setDefaultAllowRemoveProperties(bool allow) {
    defaultAllowRemoveProperties = allow;
}

bool JSAPIAuto::visible(const std::string& name) const {
    auto found = zones_.find(name);
    return found != zones_.end() && currentZoneLocked() >= found->second;
}

// A method or property shares its zone entry with an attribute of the same name. The attribute
// never moves the entry of a registered member: a page writing a property named like a privileged
// method must not make that method visible in its own zone, nor hide a public one by removing it.
void JSAPIAuto::setMemberZone(const std::string& name, SecurityZone zone) {
    zones_[name] = zone;
    if (auto member = members_.find(name); member != members_.end()) {
        member->second.zone = zone;
    }
}

void JSAPIAuto::eraseIfEmpty(std::unordered_map<std::string, Member>::iterator member) {
    if (!member->second.method && !member->second.property) {
        const std::string name = member->first;
        lastFound_ = nullptr;
        members_.erase(member);
        forgetZoneIfUnused(name);
    }
}

// A page tends to read one name many times in a row, so the entry found last is compared first:
// that is one comparison of short texts instead of hashing the name and walking a bucket.
const JSAPIAuto::Member* JSAPIAuto::findMember(const std::string& name) const {
    if (lastFound_ == nullptr || lastFound_->first != name) {
        auto member = members_.find(name);
        if (member == members_.end()) {
            return nullptr;
        }
        lastFound_ = &*member;
    }
    return &lastFound_->second;
}

const JSAPIAuto::Member* JSAPIAuto::visibleMember(const std::string& name) const {
    const Member* member = findMember(name);
    return member != nullptr && visible(member->zone) ? member : nullptr;
}

variant JSAPIAuto::readProperty(const Member& member) {
    // Held by reference count so that a getter dropping its own property does not pull the functor
    // away while it runs.
    PropertyPtr record = member.property;
    return record->get();
}

const JSAPIAuto::MethodPtr* JSAPIAuto::visibleMethod(const std::string& name) const {
    const Member* member = visibleMember(name);
    return member != nullptr && member->method ? &member->method : nullptr;
}

void JSAPIAuto::zoneForAttribute(const std::string& name) {
    if (members_.count(name) == 0) {
        zones_[name] = currentZoneLocked();
    }
}

void JSAPIAuto::forgetZoneIfUnused(const std::string& name) {
    if (members_.count(name) == 0 && attributes_.count(name) == 0) {
        zones_.erase(name);
    }
}

variant JSAPIAuto::missing(const std::string& name) const {
    if (allowDynamicAttributes_) {
        return variant();
    }
    throw invalid_member(name);
}

// Registration

template <class Record>
void JSAPIAuto::registerMember(const std::string& name, std::shared_ptr<const Record> Member::*slot,
                               const Record& record) {
    auto stored = std::make_shared<const Record>(record);
    Lock lock(zoneMutex());
    members_[name].*slot = std::move(stored);
    setMemberZone(name, currentZoneLocked());
}

template <class Record>
void JSAPIAuto::unregisterMember(const std::string& name, std::shared_ptr<const Record> Member::*slot) {
    Lock lock(zoneMutex());
    if (auto member = members_.find(name); member != members_.end() && member->second.*slot) {
        (member->second.*slot).reset();
        eraseIfEmpty(member);
    }
}

void JSAPIAuto::addMethod(const std::string& name, const CallMethodFunctor& method) {
    registerMember(name, &Member::method, method);
}

void JSAPIAuto::addMethod(const std::wstring& name, const CallMethodFunctor& method) {
    addMethod(wideToUtf8(name), method);
}

void JSAPIAuto::removeMethod(const std::string& name) {
    unregisterMember(name, &Member::method);
}

void JSAPIAuto::removeMethod(const std::wstring& name) {
    removeMethod(wideToUtf8(name));
}

void JSAPIAuto::addProperty(const std::string& name, const PropertyFunctors& property) {
    registerMember(name, &Member::property, property);
}

void JSAPIAuto::addProperty(const std::wstring& name, const PropertyFunctors& property) {
    addProperty(wideToUtf8(name), property);
}

void JSAPIAuto::dropProperty(const std::string& name) {
    unregisterMember(name, &Member::property);
}

void JSAPIAuto::dropProperty(const std::wstring& name) {
    dropProperty(wideToUtf8(name));
}

void JSAPIAuto::addAttribute(const std::string& name, const variant& value, bool readOnly) {
    Lock lock(zoneMutex());
    attributes_[name] = Attribute{value, readOnly};
    zoneForAttribute(name);
}

void JSAPIAuto::reserveName(const std::string& name) {
    Lock lock(zoneMutex());
    reserved_.insert(name);
}

// Built-in members

std::string JSAPIAuto::toString() {
    return description_;
}

bool JSAPIAuto::isValid() {
    return true;
}

variant JSAPIAuto::getAttribute(const std::string& name) {
    Lock lock(zoneMutex());
    auto found = attributes_.find(name);
    return found != attributes_.end() ? found->second.value : variant();
}

void JSAPIAuto::setAttribute(const std::string& name, const variant& value) {
    Lock lock(zoneMutex());
    auto found = attributes_.find(name);
    if (found != attributes_.end() && found->second.readOnly) {
        throw script_error("Cannot set read-only property " + name);
    }
    attributes_[name] = Attribute{value, false};
    zoneForAttribute(name);
}

void JSAPIAuto::removeAttribute(const std::string& name) {
    Lock lock(zoneMutex());
    auto found = attributes_.find(name);
    if (found == attributes_.end()) {
        return;
    }
    if (found->second.readOnly) {
        throw script_error("Cannot remove read-only property " + name);
    }
    attributes_.erase(found);
    forgetZoneIfUnused(name);
}

// Member resolution

void JSAPIAuto::listMemberNames(std::vector<std::string>& names) {
    Lock lock(zoneMutex());
    names.clear();
    const SecurityZone zone = currentZoneLocked();
    for (const auto& [name, memberZone] : zones_) {
        if (memberZone <= zone) {
            names.push_back(name);
        }
    }
}

std::size_t JSAPIAuto::countMembers() {
    Lock lock(zoneMutex());
    const SecurityZone zone = currentZoneLocked();
    std::size_t count = 0;
    for (const auto& entry : zones_) {
        if (entry.second <= zone) {
            ++count;
        }
    }
    return count;
}

bool JSAPIAuto::hasMethod(const std::string& name) {
    Lock lock(zoneMutex());
    return valid() && visibleMethod(name) != nullptr;
}

bool JSAPIAuto::hasMethodHandle(const std::string& name) {
    Lock lock(zoneMutex());
    return allowMethodObjects_ && hasMethod(name);
}

bool JSAPIAuto::hasProperty(const std::string& name) {
    Lock lock(zoneMutex());
    if (!valid()) {
        return false;
    }
    if (allowDynamicAttributes_ && !hasMethod(name) && reserved_.count(name) == 0) {
        return true;
    }
    if (allowMethodObjects_ && hasMethod(name)) {
        return true;
    }
    const Member* member = findMember(name);
    return (member != nullptr && member->property) || attributes_.count(name) > 0;
}

bool JSAPIAuto::hasProperty(int index) {
    Lock lock(zoneMutex());
    if (!valid()) {
        return false;
    }
    return allowDynamicAttributes_ || attributes_.count(std::to_string(index)) > 0;
}

JSAPIPtr JSAPIAuto::methodHandle(const std::string& name) {
    Lock lock(zoneMutex());
    if (!valid()) {
        throw object_invalidated();
    }
    if (!hasMethod(name)) {
        throw invalid_member(name);
    }
    return methodObjectLocked(name);
}

// One method object per name and zone, so that a page reading a method twice gets the same object.
JSAPIPtr JSAPIAuto::methodObjectLocked(const std::string& name) {
    const SecurityZone zone = currentZoneLocked();
    auto& cached = methodObjects_[{name, zone}];
    if (!cached) {
        cached = std::make_shared<JSFunction>(weak_from_this(), name, zone);
    }
    return cached;
}

variant JSAPIAuto::getProperty(const std::string& name) {
    Lock lock(zoneMutex());
    if (!valid()) {
        throw object_invalidated();
    }
    const Member* member = visibleMember(name);
    if (member != nullptr && member->property) {
        return readProperty(*member);
    }
    if (!visible(name)) {
        return missing(name);
    }
    if (hasMethodHandle(name)) {
        return variant(methodHandle(name));
    }
    auto attribute = attributes_.find(name);
    if (attribute != attributes_.end()) {
        return attribute->second.value;
    }
    return missing(name);
}

variant JSAPIAuto::getProperty(int index) {
    Lock lock(zoneMutex());
    if (!valid()) {
        throw object_invalidated();
    }
    const std::string name = std::to_string(index);
    auto attribute = attributes_.find(name);
    if (attribute != attributes_.end() && visible(name)) {
        return attribute->second.value;
    }
    return missing(name);
}

void JSAPIAuto::setProperty(const std::string& name, const variant& value) {
    Lock lock(zoneMutex());
    if (!valid()) {
        throw object_invalidated();
    }
    const Member* member = findMember(name);
    if (member != nullptr && member->property) {
        if (!visible(member->zone)) {
            throw invalid_member(name);
        }
        PropertyPtr record = member->property;
        try {
            record->set(value);
        } catch (const bad_variant_cast& e) {
            throw invalid_arguments(conversionMessage(e));
        }
        return;
    }
    auto attribute = attributes_.find(name);
    if (!allowDynamicAttributes_ && (attribute == attributes_.end() || attribute->second.readOnly)) {
        throw invalid_member(name);
    }
    addAttribute(name, value, false);
}

void JSAPIAuto::setProperty(int index, const variant& value) {
    Lock lock(zoneMutex());
    if (!valid()) {
        throw object_invalidated();
    }
    const std::string name = std::to_string(index);
    auto attribute = attributes_.find(name);
    if (!allowDynamicAttributes_ && (attribute == attributes_.end() || attribute->second.readOnly)) {
        throw invalid_member(name);
    }
    addAttribute(name, value, false);
}

void JSAPIAuto::removeProperty(const std::string& name) {
    Lock lock(zoneMutex());
    if (!valid()) {
        throw object_invalidated();
    }
    if (!visible(name)) {
        throw invalid_member(name);
    }
    auto attribute = attributes_.find(name);
    const Member* member = findMember(name);
    if (allowRemoveProperties_ && member != nullptr && member->property) {
        dropProperty(name);
    } else if (allowDynamicAttributes_ && attribute != attributes_.end() && !attribute->second.readOnly) {
        removeAttribute(name);
    }
}

void JSAPIAuto::removeProperty(int index) {
    Lock lock(zoneMutex());
    if (!valid()) {
        throw object_invalidated();
    }
    const std::string name = std::to_string(index);
    auto attribute = attributes_.find(name);
    if (allowDynamicAttributes_ && attribute != attributes_.end() && !attribute->second.readOnly) {
        removeAttribute(name);
        return;
    }
    throw invalid_member(name);
}

variant JSAPIAuto::invoke(const std::string& name, const VariantList& args) {
    Lock lock(zoneMutex());
    if (!valid()) {
        throw object_invalidated();
    }
    const MethodPtr* method = visibleMethod(name);
    if (method == nullptr) {
        throw invalid_member(name);
    }
    // Held by reference count so that a method removing itself does not pull the functor away
    // while it runs.
    MethodPtr record = *method;
    try {
        return (*record)(args);
    } catch (const bad_variant_cast& e) {
        throw invalid_arguments(conversionMessage(e));
    }
}

bool JSAPIAuto::hasListenersFor(const std::string& name) {
    if (!valid()) {
        return false;
    }
    if (hasEventReceivers()) {
        return true;
    }
    Lock lock(zoneMutex());
    auto attribute = attributes_.find(name);
    if (attribute == attributes_.end()) {
        return false;
    }
    const JSObjectPtr* handler = attribute->second.value.peek<JSObjectPtr>();
    return handler != nullptr && *handler != nullptr;
}

// A page read in one search: the method object when the name has a visible method, else the
// property's value; attributes and unknown names take the general path.
variant JSAPIAuto::memberValue(const std::string& name) {
    Lock lock(zoneMutex());
    if (!valid()) {
        throw object_invalidated();
    }
    if (const Member* member = visibleMember(name)) {
        if (member->method && allowMethodObjects_) {
            return variant(methodObjectLocked(name));
        }
        if (member->property) {
            return readProperty(*member);
        }
    }
    return JSAPI::memberValue(name);
}

variant JSAPIAuto::construct(const VariantList&) {
    if (!valid()) {
        throw object_invalidated();
    }
    throw invalid_member("constructor");
}

// Events: after the registered handlers, an attribute named like the event that holds a page
// object (a handler the page assigned as a property) is called too.

void JSAPIAuto::fireEventLater(const std::string& name, const VariantList& args) {
    std::exception_ptr failure;
    try {
        JSAPIImpl::fireEventLater(name, args);
    } catch (...) {
        failure = std::current_exception();
    }
    if (valid()) {
        try {
            variant handler = getAttribute(name);
            if (handler.is_of_type<JSObjectPtr>()) {
                if (auto object = handler.get<JSObjectPtr>()) {
                    object->invokeLater("", args);
                }
            }
        } catch (...) {
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void JSAPIAuto::firePageEvent(const std::string& name, const VariantMap& members, const VariantList& args) {
    std::exception_ptr failure;
    try {
        JSAPIImpl::firePageEvent(name, members, args);
    } catch (...) {
        failure = std::current_exception();
    }
    if (valid()) {
        try {
            variant handler = getAttribute(name);
            if (handler.is_of_type<JSObjectPtr>()) {
                if (auto object = handler.get<JSObjectPtr>()) {
                    object->invokeLater("", VariantList{variant(makePageEvent(name, members, args))});
                }
            }
        } catch (...) {
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

}  // namespace FB
