#pragma once

#include <cstdint>
#include <string>

// One cached PIN. An empty pin means a PIN is needed and none was given yet.
struct PinEntry {
    std::string pin;
    bool rejected = false;
    std::int32_t retryCount = 0;

    PinEntry() = default;
    explicit PinEntry(std::string p) : pin(std::move(p)) {}
    PinEntry(const PinEntry&) = delete;
    PinEntry& operator=(const PinEntry&) = delete;
    ~PinEntry();

    // Overwrites the PIN's characters with 'X' so the secret does not linger in freed storage.
    void wipe();
    // Wipes the current PIN, then takes the new one.
    void replacePin(std::string newPin);
};
