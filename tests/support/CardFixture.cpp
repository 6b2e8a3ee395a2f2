#include "CardFixture.h"

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "PkiFixture.h"

namespace {
std::map<std::string, std::string> readEnvFile(const std::string& path) {
    std::map<std::string, std::string> values;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return values;
}

// Whether pcscd reports a card in the fixture's reader.
bool cardPresent() {
    const CommandResult r = runCommand({"opensc-tool", "-l"});
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("0 ", 0) == 0) {
            return line.find("Yes") != std::string::npos;
        }
    }
    return false;
}
}  // namespace

const CardFixture& CardFixture::get() {
    static const CardFixture fixture = [] {
        CardFixture f;
        const char* dir = std::getenv("KORVANE_CARD_DIR");
        if (!dir || !*dir) {
            throw std::runtime_error(
                "KORVANE_CARD_DIR is not set; run inside the card fixture (tests/fixtures/card/in-card-ns)");
        }
        f.dir_ = dir;
        return f;
    }();
    return fixture;
}

std::string CardFixture::value(const std::string& key) const {
    const auto values = readEnvFile(dir_ + "/card.env");
    const auto it = values.find(key);
    if (it == values.end()) {
        throw std::runtime_error("card.env has no " + key);
    }
    return it->second;
}

// The state file is one line of JSON written by the card program with sorted keys:
// {"pin": "123456", "pin_tries": 3, "puk": "12345678", "puk_tries": 3}
std::string CardFixture::stateField(const std::string& key) const {
    const std::string text = readFile(statePath());
    const std::string marker = "\"" + key + "\": ";
    const auto at = text.find(marker);
    if (at == std::string::npos) {
        throw std::runtime_error("the card's state file has no " + key + ": " + text);
    }
    const auto start = at + marker.size();
    if (text[start] == '"') {
        return text.substr(start + 1, text.find('"', start + 1) - start - 1);
    }
    return text.substr(start, text.find_first_of(",}", start) - start);
}

int CardFixture::pinTriesLeft() const {
    return std::stoi(stateField("pin_tries"));
}

int CardFixture::pukTriesLeft() const {
    return std::stoi(stateField("puk_tries"));
}

std::string CardFixture::currentPin() const {
    return stateField("pin");
}

void CardFixture::reset(int pinTries) const {
    // Written beside and renamed over, as the card program does, so that it never reads half a file.
    const std::string tmp = statePath() + ".test.tmp";
    writeFile(tmp, "{\"pin\": \"" + pin() + "\", \"pin_tries\": " + std::to_string(pinTries) +
                       ", \"puk\": \"" + puk() + "\", \"puk_tries\": 3}\n");
    std::filesystem::rename(tmp, statePath());
    // The card appends to its log, so emptying it in place starts the count afresh.
    writeFile(dir_ + "/run/apdu.log", "");
}

int CardFixture::commandsReceived(const std::string& prefix) const {
    std::istringstream in(readFile(dir_ + "/run/apdu.log"));
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        count += line.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return count;
}

void CardFixture::signalCard(int signal, bool present) const {
    const int pid = std::stoi(readFile(dir_ + "/run/card.pid"));
    if (::kill(pid, signal) != 0) {
        throw std::runtime_error("the card program (pid " + std::to_string(pid) + ") is not running");
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (cardPresent() != present) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error(std::string("pcscd did not see the card ") +
                                     (present ? "inserted" : "removed"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void CardFixture::remove() const {
    signalCard(SIGUSR1, false);
}

void CardFixture::insert() const {
    signalCard(SIGUSR2, true);
}
