#pragma once

// What a page object proxy needs from the browser host that created it. The browser host of the
// plug-in core derives from this; tests supply their own.

#include <functional>
#include <string>

#include "scripting/variant.h"

namespace FB {

class ScriptHost {
  public:
    virtual ~ScriptHost();

    // Runs `call` later on the browser's main thread and does not wait. Returns false when the call
    // can no longer be posted (the host is shut down, or the browser refused); it then never runs.
    // Script errors and variant conversion errors escaping `call` are dropped by the host.
    virtual bool scheduleOnMainThread(std::function<void()> call) = 0;

    // The main-thread call of a page object: performs `object->invoke(name, args)` and hands back its
    // result. Called on the main thread only.
    virtual variant callScriptObject(const JSObjectPtr& object, const std::string& name,
                                     const VariantList& args);

    // The main-thread property write on a page object: `object->setProperty(name, value)`.
    virtual void setScriptObjectProperty(const JSObjectPtr& object, const std::string& name,
                                         const variant& value);
};

}  // namespace FB
