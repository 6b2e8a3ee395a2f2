// Interned NPIdentifiers: one identifier per distinct name and per distinct integer, alive as long
// as the fake browser. An NPIdentifier is the address of an entry, so unknown pointers can be told
// apart from real identifiers.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>

#include "npapi/npapi/npruntime.h"

namespace FB::Npapi::fakebrowser {

class IdentifierTable {
  public:
    NPIdentifier forName(const std::string& name);
    NPIdentifier forInt(int32_t value);

    bool known(NPIdentifier id) const { return entries_.count(id) != 0; }
    bool isString(NPIdentifier id) const;
    // The name of a string identifier; nothing for integer or unknown identifiers.
    std::optional<std::string> name(NPIdentifier id) const;
    std::optional<int32_t> number(NPIdentifier id) const;
    // The property key the page uses: the name, or the decimal text of an integer.
    std::optional<std::string> key(NPIdentifier id) const;

    size_t size() const { return storage_.size(); }

  private:
    struct Entry {
        bool isString;
        std::string name;
        int32_t number;
    };
    const Entry* entry(NPIdentifier id) const;

    std::deque<Entry> storage_;
    std::map<std::string, NPIdentifier> byName_;
    std::map<int32_t, NPIdentifier> byNumber_;
    std::unordered_set<NPIdentifier> entries_;
};

}  // namespace FB::Npapi::fakebrowser
