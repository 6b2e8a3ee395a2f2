#pragma once

// The interface every scriptable object presents to the browser adapters. Every named operation
// has a UTF-8 form and a wide (UTF-16) form; the wide form converts the name and forwards.

#include <memory>
#include <string>
#include <vector>

#include "scripting/variant.h"

namespace FB {

// Privilege level of a member; 0 is the public zone, larger values are more privileged.
using SecurityZone = int;
inline constexpr SecurityZone SecurityScope_Public = 0;

class JSAPI : public std::enable_shared_from_this<JSAPI> {
  public:
    JSAPI() = default;
    JSAPI(const JSAPI&) = delete;
    JSAPI& operator=(const JSAPI&) = delete;
    virtual ~JSAPI();

    virtual void invalidate() = 0;
    virtual void shutdown() {}

    virtual void enterZone(SecurityZone zone) {}
    virtual void leaveZone() {}
    virtual void setBaseZone(SecurityZone zone) {}
    virtual SecurityZone baseZone() const { return SecurityScope_Public; }
    virtual SecurityZone currentZone() const { return SecurityScope_Public; }

    virtual void addEventHandler(const std::wstring& name, const JSObjectPtr& handler);
    virtual void addEventHandler(const std::string& name, const JSObjectPtr& handler);
    virtual void removeEventHandler(const std::wstring& name, const JSObjectPtr& handler);
    virtual void removeEventHandler(const std::string& name, const JSObjectPtr& handler);
    virtual void addEventInterface(const JSObjectPtr& handler);
    virtual void removeEventInterface(const JSObjectPtr& handler);

    virtual void listMemberNames(std::vector<std::string>* names) { listMemberNames(*names); }
    virtual void listMemberNames(std::vector<std::string>& names) = 0;
    virtual void listMemberNames(std::vector<std::wstring>* names) { listMemberNames(*names); }
    virtual void listMemberNames(std::vector<std::wstring>& names);
    virtual std::size_t countMembers() = 0;

    virtual bool hasMethod(const std::string& name) = 0;
    virtual bool hasMethod(const std::wstring& name);
    virtual bool hasMethodHandle(const std::string& name) { return false; }
    virtual bool hasMethodHandle(const std::wstring& name);
    virtual bool hasProperty(int index) = 0;
    virtual bool hasProperty(const std::string& name) = 0;
    virtual bool hasProperty(const std::wstring& name);
    virtual JSAPIPtr methodHandle(const std::string& name) { return {}; }
    virtual JSAPIPtr methodHandle(const std::wstring& name);

    virtual variant getProperty(int index) = 0;
    virtual variant getProperty(const std::string& name) = 0;
    virtual variant getProperty(const std::wstring& name);
    virtual void setProperty(int index, const variant& value) = 0;
    virtual void setProperty(const std::string& name, const variant& value) = 0;
    virtual void setProperty(const std::wstring& name, const variant& value);
    virtual void removeProperty(int index) = 0;
    virtual void removeProperty(const std::string& name) = 0;
    virtual void removeProperty(const std::wstring& name);

    virtual variant invoke(const std::string& name, const VariantList& args) = 0;
    virtual variant invoke(const std::wstring& name, const VariantList& args);
    virtual variant construct(const VariantList& args) = 0;

    // What a page reading `name` gets: the method object when the name has one (hasMethodHandle),
    // else the property. One call, so that an object can answer it under one lock.
    virtual variant memberValue(const std::string& name);
    // invoke(name, args) with `zone` entered for the call and left after it, also when it fails.
    virtual variant invokeInZone(SecurityZone zone, const std::string& name, const VariantList& args);
};

// Pushes a zone for the lifetime of the guard (for privileged registrations and calls).
class ScopedZone {
  public:
    ScopedZone(JSAPI& object, SecurityZone zone) : object_(object) { object_.enterZone(zone); }
    ~ScopedZone() { object_.leaveZone(); }
    ScopedZone(const ScopedZone&) = delete;
    ScopedZone& operator=(const ScopedZone&) = delete;

  private:
    JSAPI& object_;
};

}  // namespace FB
