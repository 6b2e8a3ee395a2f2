#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "signature/PinEntry.h"

// The PIN state of one page origin: a map from PIN module name (a certificate identifier) to its entry.
// The process keeps one cache per origin, so a PIN typed on one site's page never signs for another
// site, while every instance and engine of the same origin shares it. Used from the browser's main
// thread only, hence no lock.
class PinCache {
  public:
    // The cache of origin ("scheme://host[:port]"), made empty on first use and kept for the process.
    static PinCache& forOrigin(const std::string& origin);
    // Empties the cache of every origin.
    static void clearEveryOrigin();
    // Removes the cache of an origin that no page will use again, wiping its PINs. A later forOrigin
    // makes it afresh, so nobody may hold a reference to it across this call.
    static void dropOrigin(const std::string& origin);
    static std::size_t originCount();

    PinCache() = default;
    PinCache(const PinCache&) = delete;
    PinCache& operator=(const PinCache&) = delete;
    ~PinCache();

    // Inserts a new entry, or replaces a different PIN (clearing the rejected mark, keeping the count).
    // The same PIN again leaves the entry as it is, rejected or not. The entry's copy is the only one
    // the cache makes; the caller wipes its own.
    void setPin(const std::string& moduleName, const std::string& pin);
    // The card asked for a PIN that we do not have: the entry becomes empty, not rejected, count 0.
    void requirePin(const std::string& moduleName);
    // The card refused the PIN just presented. Not counted when the token had refused that very PIN
    // before, under another entry, and it was not presented again.
    void markRejected(const std::string& moduleName, bool counted = true);
    // Drops the entry (wiping its PIN) unless the card refused its PIN, whose mark stays.
    void forgetAccepted(const std::string& moduleName);
    void clear();

    const PinEntry* find(const std::string& moduleName) const;
    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }

    bool anyMissing() const;
    bool anyRejected() const;
    std::vector<std::string> modulesWithoutPin() const;
    std::vector<std::string> modulesWithInvalidPin() const;
    std::int32_t retryCount(const std::string& moduleName) const;

    // Test seam: called with the wiped text each time a PIN is overwritten before release or reuse.
    using WipeObserver = void (*)(const std::string&);
    static void setWipeObserver(WipeObserver observer);
    static void notifyWipe(const std::string& wiped);

  private:
    std::map<std::string, PinEntry> entries_;
};
