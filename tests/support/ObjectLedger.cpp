#include "ObjectLedger.h"

#include <sstream>

namespace FB::Npapi::fakebrowser {

const ObjectLedger::Record& ObjectLedger::add(NPObject* object, NPP npp, const NPClass* objectClass,
                                              std::string label) {
    Record& record = records_[object];
    record = Record{nextSerial_++, std::move(label), npp, objectClass, 1, true};
    return record;
}

ObjectLedger::State ObjectLedger::state(const NPObject* object) const {
    auto it = records_.find(object);
    if (it == records_.end()) {
        return State::Unknown;
    }
    return it->second.alive ? State::Alive : State::Freed;
}

const ObjectLedger::Record* ObjectLedger::find(const NPObject* object) const {
    auto it = records_.find(object);
    return it == records_.end() ? nullptr : &it->second;
}

int64_t ObjectLedger::retain(const NPObject* object) {
    return ++records_.at(object).count;
}

int64_t ObjectLedger::release(const NPObject* object) {
    return --records_.at(object).count;
}

void ObjectLedger::markFreed(const NPObject* object) {
    Record& record = records_.at(object);
    record.alive = false;
    record.count = 0;
}

std::vector<NPObject*> ObjectLedger::live() const {
    std::vector<NPObject*> result;
    for (const auto& [object, record] : records_) {
        if (record.alive) {
            result.push_back(const_cast<NPObject*>(object));
        }
    }
    return result;
}

std::string ObjectLedger::describe(const NPObject* object) const {
    std::ostringstream text;
    if (const Record* record = find(object)) {
        text << record->label << " #" << record->serial;
    } else {
        text << "unknown object " << static_cast<const void*>(object);
    }
    return text.str();
}

}  // namespace FB::Npapi::fakebrowser
