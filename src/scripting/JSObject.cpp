#include "scripting/JSObject.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "scripting/script_error.h"

namespace FB {

JSObject::~JSObject() = default;

JSObjectPtr JSObject::sharedSelf() {
    return std::static_pointer_cast<JSObject>(shared_from_this());
}

void JSObject::invokeLater(const std::string& name, const VariantList& args) {
    auto host = host_.lock();
    if (!host) {
        throw std::runtime_error("Cannot invoke asynchronously");
    }
    host->scheduleOnMainThread([self = sharedSelf(), name, args] { self->invokeOnMainThread(name, args); });
}

void JSObject::setPropertyLater(const std::string& name, const variant& value) {
    auto host = host_.lock();
    if (!host) {
        throw std::runtime_error("Cannot invoke asynchronously");
    }
    host->scheduleOnMainThread(
        [self = sharedSelf(), name, value] { self->setPropertyOnMainThread(name, value); });
}

void JSObject::invokeOnMainThread(const std::string& name, const VariantList& args) {
    // The result is of no interest to anyone; a host that went meanwhile means nothing to do.
    if (auto host = host_.lock()) {
        host->callScriptObject(sharedSelf(), name, args);
    }
}

void JSObject::setPropertyOnMainThread(const std::string& name, const variant& value) {
    if (auto host = host_.lock()) {
        host->setScriptObjectProperty(sharedSelf(), name, value);
    }
}

namespace {

// A browser failure while reading the array is raised again as a plain script_error.
long arrayLength(JSObject& object) {
    try {
        return object.getProperty("length").convert<long>();
    } catch (const script_error& e) {
        throw script_error(e.what());
    }
}

void readElements(JSObject& object, long length, VariantList& values) {
    try {
        for (long i = 0; i < length; ++i) {
            values.push_back(object.getProperty(static_cast<int>(i)));
        }
    } catch (const script_error& e) {
        throw script_error(e.what());
    }
}

}  // namespace

void readArrayValues(const JSObjectPtr& object, VariantList& values) {
    if (!object) {
        return;
    }
    // Indices are int; a length beyond that range cannot be read anyway.
    readElements(*object, std::min<long>(arrayLength(*object), INT_MAX), values);
}

void readArrayValues(const JSObjectPtr& object, VariantList& values, std::size_t maxLength) {
    if (!object) {
        return;
    }
    const long length = arrayLength(*object);
    if (length > 0 && static_cast<unsigned long>(length) > maxLength) {
        throw invalid_arguments();
    }
    readElements(*object, length, values);
}

void readObjectValues(const JSObjectPtr& object, VariantMap& values) {
    if (!object) {
        return;
    }
    try {
        std::vector<std::string> names;
        object->listMemberNames(names);
        for (const auto& name : names) {
            values.emplace(name, object->getProperty(name));
        }
    } catch (const script_error& e) {
        throw script_error(e.what());
    }
}

}  // namespace FB
