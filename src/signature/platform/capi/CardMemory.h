#pragma once

#include <string>

// What the CryptoAPI engine learns of each smart card, kept for the process because the card counts its
// tries per card and not per certificate or page: the PIN the card refused last, which is never presented
// to that card again whichever of its certificates asks, until the card accepts a PIN; and whether the
// card reported itself blocked, after which no PIN is sent to it. A card is known by a key (its provider
// and reader) and an identity (what the provider reports of the card itself); another identity under the
// same key is another card, and what was known of the earlier one is forgotten.
class CardMemory {
  public:
    // Records that the card with this identity is the one under key now, holding the key of certificate
    // (its identifier).
    static void seen(const std::string& key, const std::string& identity, const std::string& certificate);
    // The key of the card last seen holding the certificate's key; empty when none was.
    static std::string cardOf(const std::string& certificate);
    // True when the card under key refused exactly this PIN and has accepted none since.
    static bool refusedBefore(const std::string& key, const std::string& pin);
    static void refused(const std::string& key, const std::string& pin);
    // The card accepted a PIN: the refused one is wiped and forgotten.
    static void accepted(const std::string& key);
    static bool blocked(const std::string& key);
    static void markBlocked(const std::string& key);
    // Forgets every blocked mark (the user starts over; the card answers again if it is still blocked).
    static void forgetBlocked();
    // Forgets every card, wiping the refused PINs.
    static void forgetAll();
};
