#include "IdentifierTable.h"

namespace FB::Npapi::fakebrowser {

NPIdentifier IdentifierTable::forName(const std::string& name) {
    auto it = byName_.find(name);
    if (it != byName_.end()) {
        return it->second;
    }
    storage_.push_back(Entry{true, name, 0});
    NPIdentifier id = &storage_.back();
    byName_.emplace(name, id);
    entries_.insert(id);
    return id;
}

NPIdentifier IdentifierTable::forInt(int32_t value) {
    auto it = byNumber_.find(value);
    if (it != byNumber_.end()) {
        return it->second;
    }
    storage_.push_back(Entry{false, {}, value});
    NPIdentifier id = &storage_.back();
    byNumber_.emplace(value, id);
    entries_.insert(id);
    return id;
}

const IdentifierTable::Entry* IdentifierTable::entry(NPIdentifier id) const {
    return known(id) ? static_cast<const Entry*>(id) : nullptr;
}

bool IdentifierTable::isString(NPIdentifier id) const {
    const Entry* e = entry(id);
    return e != nullptr && e->isString;
}

std::optional<std::string> IdentifierTable::name(NPIdentifier id) const {
    const Entry* e = entry(id);
    if (e == nullptr || !e->isString) {
        return std::nullopt;
    }
    return e->name;
}

std::optional<int32_t> IdentifierTable::number(NPIdentifier id) const {
    const Entry* e = entry(id);
    if (e == nullptr || e->isString) {
        return std::nullopt;
    }
    return e->number;
}

std::optional<std::string> IdentifierTable::key(NPIdentifier id) const {
    const Entry* e = entry(id);
    if (e == nullptr) {
        return std::nullopt;
    }
    return e->isString ? e->name : std::to_string(e->number);
}

}  // namespace FB::Npapi::fakebrowser
