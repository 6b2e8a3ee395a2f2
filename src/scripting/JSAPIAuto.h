#pragma once

// A scriptable object whose methods, properties and attributes are registered at run time under
// names. Derived classes register their members in the constructor with bindMethod/bindProperty.
// Every member lookup, registration and call runs under the zone lock (see JSAPIImpl.h); a member
// is visible while the current zone is at least the zone it was registered under.

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "scripting/JSAPIImpl.h"
#include "scripting/method_wrappers.h"

namespace FB {

class JSAPIAuto : public JSAPIImpl {
  public:
    explicit JSAPIAuto(const std::string& description = "<JSAPI-Auto Javascript Object>");
    JSAPIAuto(SecurityZone zone, const std::string& description);
    ~JSAPIAuto() override;

    using JSAPI::getProperty;
    using JSAPI::hasMethod;
    using JSAPI::hasMethodHandle;
    using JSAPI::hasProperty;
    using JSAPI::invoke;
    using JSAPI::listMemberNames;
    using JSAPI::methodHandle;
    using JSAPI::removeProperty;
    using JSAPI::setProperty;
    using JSAPIImpl::firePageEvent;

    void listMemberNames(std::vector<std::string>& names) override;
    std::size_t countMembers() override;
    bool hasMethod(const std::string& name) override;
    bool hasMethodHandle(const std::string& name) override;
    bool hasProperty(int index) override;
    bool hasProperty(const std::string& name) override;
    JSAPIPtr methodHandle(const std::string& name) override;
    variant getProperty(int index) override;
    variant getProperty(const std::string& name) override;
    void setProperty(int index, const variant& value) override;
    void setProperty(const std::string& name, const variant& value) override;
    void removeProperty(int index) override;
    void removeProperty(const std::string& name) override;
    variant invoke(const std::string& name, const VariantList& args) override;
    variant construct(const VariantList& args) override;
    variant memberValue(const std::string& name) override;

    void fireEventLater(const std::string& name, const VariantList& args) override;
    // Whether firing `name` now would reach anyone: a handler or event interface, a proxy, or an
    // attribute of that name holding a page function. A member can skip building an event's
    // arguments when nobody would receive them.
    bool hasListenersFor(const std::string& name);
    void firePageEvent(const std::string& name, const VariantMap& members, const VariantList& args) override;

    virtual void addAttribute(const std::string& name, const variant& value, bool readOnly);
    virtual void reserveName(const std::string& name);
    virtual void removeMethod(const std::string& name);
    virtual void removeMethod(const std::wstring& name);
    virtual void addMethod(const std::string& name, const CallMethodFunctor& method);
    virtual void addMethod(const std::wstring& name, const CallMethodFunctor& method);
    virtual void addProperty(const std::string& name, const PropertyFunctors& property);
    virtual void addProperty(const std::wstring& name, const PropertyFunctors& property);
    virtual void dropProperty(const std::string& name);
    virtual void dropProperty(const std::wstring& name);
    virtual std::string toString();
    virtual bool isValid();
    virtual variant getAttribute(const std::string& name);
    virtual void setAttribute(const std::string& name, const variant& value);
    virtual void removeAttribute(const std::string& name);

    // Policy switches; the removal default applies to objects created after it is changed.
    void setAllowDynamicAttributes(bool allow);
    void setAllowRemoveProperties(bool allow);
    void setAllowMethodObjects(bool allow);
    static void setDefaultAllowRemoveProperties(bool allow);

  protected:
    void clearReservedNames();

  private:
    struct Attribute {
        variant value;
        bool readOnly = false;
    };
    using MethodPtr = std::shared_ptr<const CallMethodFunctor>;
    using PropertyPtr = std::shared_ptr<const PropertyFunctors>;

    // What is registered under one name: a method, a property or both, with a copy of the name's
    // zone entry, kept equal to the zone table's, so that one search finds the records and their
    // visibility. An entry goes when it holds neither.
    struct Member {
        MethodPtr method;
        PropertyPtr property;
        SecurityZone zone = SecurityScope_Public;
    };

    void registerBuiltIns();
    bool visible(const std::string& name) const;
    bool visible(SecurityZone zone) const { return currentZoneLocked() >= zone; }
    // The member registered under `name` (visible in the current zone, for visibleMember), or null.
    const Member* findMember(const std::string& name) const;
    const Member* visibleMember(const std::string& name) const;
    static variant readProperty(const Member& member);
    const MethodPtr* visibleMethod(const std::string& name) const;
    void setMemberZone(const std::string& name, SecurityZone zone);
    template <class Record>
    void registerMember(const std::string& name, std::shared_ptr<const Record> Member::*slot,
                        const Record& record);
    template <class Record>
    void unregisterMember(const std::string& name, std::shared_ptr<const Record> Member::*slot);
    void eraseIfEmpty(std::unordered_map<std::string, Member>::iterator member);
    JSAPIPtr methodObjectLocked(const std::string& name);
    variant missing(const std::string& name) const;
    void zoneForAttribute(const std::string& name);
    void forgetZoneIfUnused(const std::string& name);

    std::map<std::pair<std::string, SecurityZone>, JSAPIPtr> methodObjects_;
    // Looked up on every page access, never walked: hashed. The zone table is what enumeration
    // walks, in name order.
    std::unordered_map<std::string, Member> members_;
    // The entry the last search found; nodes stay put until erased, and erasing clears it.
    mutable const std::pair<const std::string, Member>* lastFound_ = nullptr;
    std::map<std::string, SecurityZone> zones_;
    std::string description_;
    std::unordered_map<std::string, Attribute> attributes_;
    std::set<std::string> reserved_;
    bool allowDynamicAttributes_ = true;
    bool allowRemoveProperties_;
    bool allowMethodObjects_ = true;
};

}  // namespace FB
