#include "signature/platform/capi/CardMemory.h"

#include <functional>
#include <map>
#include <mutex>

namespace {

struct Card {
    std::string identity;
    bool blocked = false;
};

// Engines may run on more than one thread (the host's), so every access takes the lock.
struct Cards {
    std::mutex lock;
    std::map<std::string, Card> byKey;
    std::map<std::string, std::string> keyOfCertificate;
};

Cards& cards() {
    static Cards instance;
    return instance;
}

}  // namespace

void CardMemory::seen(const std::string& key, const std::string& identity, const std::string& certificate) {
    Cards& all = cards();
    std::lock_guard guard(all.lock);
    all.keyOfCertificate[certificate] = key;
    Card& card = all.byKey[key];
    if (card.identity != identity) {
        card.identity = identity;
        card.blocked = false;
    }
}

std::string CardMemory::cardOf(const std::string& certificate) {
    Cards& all = cards();
    std::lock_guard guard(all.lock);
    auto it = all.keyOfCertificate.find(certificate);
    return it == all.keyOfCertificate.end() ? std::string() : it->second;
}

bool CardMemory::blocked(const std::string& key) {
    Cards& all = cards();
    std::lock_guard guard(all.lock);
    auto it = all.byKey.find(key);
    return it != all.byKey.end() && it->second.blocked;
}

void CardMemory::markBlocked(const std::string& key) {
    Cards& all = cards();
    std::lock_guard guard(all.lock);
    all.byKey[key].blocked = true;
}

void CardMemory::forgetBlocked() {
    Cards& all = cards();
    std::lock_guard guard(all.lock);
    for (auto& [key, card] : all.byKey) {
        card.blocked = false;
    }
}

void CardMemory::forgetAll() {
    Cards& all = cards();
    std::lock_guard guard(all.lock);
    all.byKey.clear();
    all.keyOfCertificate.clear();
}

std::int64_t CardMemory::insertion(const std::string& identity) {
    return static_cast<std::int64_t>(std::hash<std::string>{}(identity));
}
