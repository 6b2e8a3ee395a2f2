#include "scripting/JSFunction.h"

#include "scripting/JSObject.h"
#include "scripting/script_error.h"

namespace FB {

JSFunction::JSFunction(const JSAPIWeakPtr& owner, const std::string& name, SecurityZone zone)
    : JSAPIAuto(zone, name + "()"), owner_(owner), name_(name) {
    setAllowMethodObjects(false);
    clearReservedNames();
}

JSFunction::~JSFunction() = default;

bool JSFunction::hasMethod(const std::string& name) {
    if (name.empty() || name == "apply" || name == "call") {
        return true;
    }
    return JSAPIAuto::hasMethod(name);
}

bool JSFunction::hasProperty(const std::string& name) {
    if (name == "call" || name == "apply") {
        return false;
    }
    return JSAPIAuto::hasProperty(name);
}

variant JSFunction::invoke(const std::string& name, const VariantList& args) {
    if (name.empty()) {
        return exec(args);
    }
    if (name == "call") {
        return call(args);
    }
    if (name == "apply") {
        return apply(args);
    }
    return JSAPIAuto::invoke(name, args);
}

variant JSFunction::exec(const VariantList& args) {
    JSAPIPtr owner = owner_.lock();
    if (!owner) {
        throw script_error("Invalid JSAPI object");
    }
    return owner->invokeInZone(baseZone(), name_, args);
}

variant JSFunction::call(const VariantList& args) {
    if (args.empty()) {
        return exec(args);
    }
    return exec(VariantList(args.begin() + 1, args.end()));
}

variant JSFunction::apply(const VariantList& args) {
    VariantList list;
    if (args.size() >= 2) {
        const variant& given = args[1];
        if (given.is_of_type<VariantList>()) {
            list = given.get<VariantList>();
        } else {
            // A page array is measured before it is read: an object claiming a length of 2^31 would
            // otherwise be read index by index.
            const JSObjectPtr array = given.convert<JSObjectPtr>();
            if (!array) {
                throw bad_variant_cast(given.type(), typeid(VariantList));
            }
            readArrayValues(array, list, kMaxApplyArguments);
        }
        if (list.size() > kMaxApplyArguments) {
            throw invalid_arguments();
        }
    }
    return exec(list);
}

}  // namespace FB
