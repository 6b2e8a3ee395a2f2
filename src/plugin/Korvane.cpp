#include "plugin/Korvane.h"

#include <atomic>

#include "plugin/KorvaneAPI.h"
#include "signature/PinCache.h"

namespace {
// Numbers the instances whose page names no origin; such an origin never equals a page's.
std::atomic<unsigned long> unnamedOrigins{0};
constexpr const char* kUnnamedPrefix = "unnamed:";
}  // namespace

Korvane::~Korvane() {
    // The API object goes first (unless the page still holds it), then the objects the host keeps for
    // the page, then the core.
    rootObject_.reset();
    if (host())
        host()->releaseRetainedObjects();
    // An origin of this instance's own is never used again: its PINs are wiped now, not at exit.
    if (isUnnamedOrigin(pinOrigin_))
        PinCache::dropOrigin(pinOrigin_);
}

bool Korvane::isUnnamedOrigin(const std::string& origin) {
    return origin.rfind(kUnnamedPrefix, 0) == 0;
}

void Korvane::attachHost(const FB::BrowserHostPtr& host) {
    PluginCore::attachHost(host);
    if (!pinOrigin_.empty())
        return;
    pinOrigin_ = host ? host->pageOrigin() : std::string();
    if (pinOrigin_.empty())
        pinOrigin_ = kUnnamedPrefix + std::to_string(++unnamedOrigins);
}

bool Korvane::handleEvent(FB::PluginEvent* event, FB::PluginEventSource* source) {
    auto* window = dynamic_cast<FB::PluginWindow*>(source);
    if (!window || !event)
        return false;
    if (auto* e = dynamic_cast<FB::MouseDownEvent*>(event))
        return onMouseDown(e, window);
    if (auto* e = dynamic_cast<FB::MouseUpEvent*>(event))
        return onMouseUp(e, window);
    if (auto* e = dynamic_cast<FB::MouseMoveEvent*>(event))
        return onMouseMove(e, window);
    if (auto* e = dynamic_cast<FB::AttachedEvent*>(event))
        return onWindowAttached(e, window);
    if (auto* e = dynamic_cast<FB::DetachedEvent*>(event))
        return onWindowDetached(e, window);
    return false;
}

FB::JSAPIPtr Korvane::createScriptObject() {
    return std::make_shared<KorvaneAPI>(sharedAs<Korvane>(), host());
}

FB::JSAPIPtr Korvane::getScriptObject() {
    if (!rootObject_)
        rootObject_ = createScriptObject();
    return rootObject_;
}
