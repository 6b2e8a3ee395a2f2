#pragma once

#include <cstdint>
#include <string>

// One cached PIN. An empty pin means a PIN is needed and none was given yet.
struct PinEntry {
    std::string pin;
    bool rejected = false;
    std::int32_t retryCount = 0;

    PinEntry() = default;
    PinEntry(const PinEntry&) = delete;
    PinEntry& operator=(const PinEntry&) = delete;
    ~PinEntry();

    // Overwrites the PIN's characters with 'X' so the secret does not linger in freed storage.
    void wipe();
    // Wipes the current PIN, then copies the new one into this entry's own storage.
    void replacePin(const std::string& newPin);
};
