#include "scripting/ScriptHost.h"

#include "scripting/JSObject.h"

namespace FB {

ScriptHost::~ScriptHost() = default;

variant ScriptHost::callScriptObject(const JSObjectPtr& object, const std::string& name,
                                     const VariantList& args) {
    return object->invoke(name, args);
}

void ScriptHost::setScriptObjectProperty(const JSObjectPtr& object, const std::string& name,
                                         const variant& value) {
    object->setProperty(name, value);
}

}  // namespace FB
