#pragma once

// What a token says about its user PIN, as pages read it through "pinState".
enum class PinState {
    Unknown,   // no token concerned yet, or the token does not tell
    Ok,        // the token reports neither flag below
    FinalTry,  // the next wrong PIN blocks the card
    Locked,    // the card is blocked: no PIN is presented to it any more
};

inline const char* pinStateText(PinState state) {
    switch (state) {
        case PinState::Ok:
            return "ok";
        case PinState::FinalTry:
            return "finalTry";
        case PinState::Locked:
            return "locked";
        case PinState::Unknown:
            break;
    }
    return "unknown";
}
