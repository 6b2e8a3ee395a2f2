// Book-keeping of every NPObject the fake browser created: its reference count as the browser
// sees it, whether it was freed, and a label for reports. Records of freed objects stay until the
// address is reused, so a release after the free is recognised without touching the memory.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "npapi/npapi/npruntime.h"

namespace FB::Npapi::fakebrowser {

class ObjectLedger {
  public:
    struct Record {
        uint64_t serial = 0;
        std::string label;
        NPP npp = nullptr;
        const NPClass* objectClass = nullptr;
        int64_t count = 0;
        bool alive = false;
    };

    enum class State { Unknown, Alive, Freed };

    // Enters a new object with one reference, replacing any record of a freed object at the address.
    const Record& add(NPObject* object, NPP npp, const NPClass* objectClass, std::string label);
    State state(const NPObject* object) const;
    const Record* find(const NPObject* object) const;

    // Count changes for a live object; `release` returns the new count.
    int64_t retain(const NPObject* object);
    int64_t release(const NPObject* object);
    void markFreed(const NPObject* object);

    std::vector<NPObject*> live() const;
    std::string describe(const NPObject* object) const;
    uint64_t createdCount() const { return nextSerial_ - 1; }

  private:
    std::map<const NPObject*, Record> records_;
    uint64_t nextSerial_ = 1;
};

}  // namespace FB::Npapi::fakebrowser
