#pragma once

// A smart card behind the CryptoAPI table, for the tests of the engine and of the API object over it:
// every provider call for the card's context is scripted and logged, everything else goes to the system.
// The card's certificate is the make-pki "card" one, whose key provider record names a smart-card
// provider; a second certificate may be put into another container of the same card.

// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <string>
#include <vector>

#include "signature/platform/capi/CapiFunctions.h"

struct ScriptedCard {
    static constexpr HCRYPTPROV kContext = 0xCA4D;
    static constexpr HCRYPTHASH kHash = 0x4A54;

    // One card in one reader with two key containers: the "card" certificate's and, when set, the one
    // of a second certificate. One PIN and one try counter serve both.
    std::string pin = "1234";
    int triesLeft = 3;
    bool blocked = false;
    std::string reader = "Scripted Reader 0";
    BYTE guid[16] = {0x4B, 0x6F, 0x72, 0x76};
    std::string second;  // DER of the second certificate on the card, or empty
    std::wstring providerName = L"Microsoft Base Smart Card Crypto Provider";
    DWORD createHashError = 0;
    bool pinInContext = false;
    DWORD acquireFlags = 0;
    DWORD acquireType = 0;
    std::vector<std::string> calls;

    // Puts a second certificate (Base64 of its DER) into the card's other container.
    bool addCertificate(const std::string& derBase64);

    // The card the table's functions answer for; set it before a call reaches them.
    static ScriptedCard* current;
    static const CapiFunctions& functions();
};
