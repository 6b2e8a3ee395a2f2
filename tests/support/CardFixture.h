#pragma once

#include <string>

// The emulated PIV card that tests/fixtures/card runs beside a private pcscd: the values of its card.env
// (CARD_PIN, CARD_PUK, CARD_SIGN_CERT, ...) and its state file, which holds the PIN, the PUK and their
// remaining tries. Tests run inside the card's namespace (tests/fixtures/card/in-card-ns), which sets
// KORVANE_CARD_DIR.
class CardFixture {
  public:
    static const CardFixture& get();

    std::string value(const std::string& key) const;
    std::string dir() const { return dir_; }
    // The home whose NSS store has OpenSC registered and the fixture's CAs.
    std::string home() const { return dir_ + "/home"; }
    std::string pin() const { return value("CARD_PIN"); }
    std::string puk() const { return value("CARD_PUK"); }

    // The card's counters and PIN as its state file has them now.
    int pinTriesLeft() const;
    int pukTriesLeft() const;
    std::string currentPin() const;

    // Gives the card its own PIN and PUK back with `pinTries` tries left for the PIN (3 is a fresh card,
    // 0 a blocked one) and a fresh PUK counter; the card forgets any PIN verified before. Empties the
    // card's command log.
    void reset(int pinTries = 3) const;

    // How many commands the card answered since the last reset whose log line starts with `prefix`
    // (lines such as "VERIFY P1=00 P2=80 Lc=8 SW=63C1"; no data is logged).
    int commandsReceived(const std::string& prefix) const;
    // PINs presented to the card since the last reset, whatever it answered.
    int pinPresentations() const { return commandsReceived("VERIFY P1=00 P2=80 Lc=8 "); }

    // Takes the card out of the reader and puts it back (the card program drops and reopens its
    // connection to the reader); each returns once pcscd sees the change.
    void remove() const;
    void insert() const;

  private:
    std::string statePath() const { return dir_ + "/run/state.json"; }
    std::string stateField(const std::string& key) const;
    void signalCard(int signal, bool present) const;

    std::string dir_;
};
