#pragma once

// The method object handed out when a page reads a method as a value. Calling it (directly, or
// through "call" and "apply") invokes the named method on its owner, under the zone in which the
// owner created it.

#include <cstddef>
#include <string>

#include "scripting/JSAPIAuto.h"

namespace FB {

class JSFunction : public JSAPIAuto {
  public:
    JSFunction(const JSAPIWeakPtr& owner, const std::string& name, SecurityZone zone = SecurityScope_Public);
    ~JSFunction() override;

    using JSAPIAuto::hasMethod;
    using JSAPIAuto::hasProperty;
    using JSAPIAuto::invoke;

    bool hasMethod(const std::string& name) override;
    bool hasProperty(const std::string& name) override;
    variant invoke(const std::string& name, const VariantList& args) override;

    // The call itself.
    virtual variant exec(const VariantList& args);
    // JavaScript call: the first argument is the `this` value and is dropped.
    virtual variant call(const VariantList& args);
    // JavaScript apply: the second argument, converted to a list, is the argument list. No member
    // takes more than a handful of arguments, so a longer list is refused with invalid_arguments.
    virtual variant apply(const VariantList& args);
    static constexpr std::size_t kMaxApplyArguments = 64;

    const std::string& methodName() const { return name_; }

  private:
    JSAPIWeakPtr owner_;
    std::string name_;
};

}  // namespace FB
