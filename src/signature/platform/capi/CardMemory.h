#pragma once

#include <cstdint>
#include <string>

// What the CryptoAPI engine learns of each smart card and keeps for the process, since a card is the same
// card for every certificate, page and engine: which card holds each certificate's key, and whether the
// card reported itself blocked, after which no PIN is sent to it. A card is known by a key (its provider
// and reader) and an identity (what the provider reports of the card itself); another identity under the
// same key is another card, and what was known of the earlier one is forgotten. The PINs a card refused
// are kept in RefusedPins, under the same key and the insertion() of the identity.
class CardMemory {
  public:
    // Records that the card with this identity is the one under key now, holding the key of certificate
    // (its identifier).
    static void seen(const std::string& key, const std::string& identity, const std::string& certificate);
    // The key of the card last seen holding the certificate's key; empty when none was.
    static std::string cardOf(const std::string& certificate);
    static bool blocked(const std::string& key);
    static void markBlocked(const std::string& key);
    // Forgets every blocked mark (the user starts over; the card answers again if it is still blocked).
    static void forgetBlocked();
    static void forgetAll();
    // The number under which RefusedPins keeps what the card of this identity refused.
    static std::int64_t insertion(const std::string& identity);
};
