#include "PkiFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "SystemServices.h"

namespace {
// Points the engine at the fixture: HOME=DIR/home (so sql:$HOME/.pki/nssdb is the fixture's database)
// and SOFTHSM2_CONF=DIR/softhsm2.conf (so the token registered there is found).
class FixtureHome : public ::testing::Environment {
  public:
    void SetUp() override {
        if (const char* dir = std::getenv("KORVANE_PKI_DIR"); dir && *dir) {
            testsys::setEnv("HOME", std::string(dir) + "/home");
            testsys::setEnv("SOFTHSM2_CONF", std::string(dir) + "/softhsm2.conf");
        }
    }
};
[[maybe_unused]] ::testing::Environment* const fixtureHome =
    ::testing::AddGlobalTestEnvironment(new FixtureHome);
}  // namespace

const PkiFixture& PkiFixture::get() {
    static const PkiFixture fixture = [] {
        PkiFixture f;
        const char* dir = std::getenv("KORVANE_PKI_DIR");
        if (!dir || !*dir) {
            throw std::runtime_error("KORVANE_PKI_DIR is not set; run through ctest (fixture make_pki)");
        }
        f.dir_ = dir;
        std::istringstream in(readFile(f.dir_ + "/fixture.env"));
        for (std::string line; std::getline(in, line);) {
            const auto eq = line.find('=');
            if (eq != std::string::npos) {
                f.values_[line.substr(0, eq)] = line.substr(eq + 1);
            }
        }
        return f;
    }();
    return fixture;
}

std::string PkiFixture::value(const std::string& key) const {
    auto it = values_.find(key);
    if (it == values_.end()) {
        throw std::runtime_error("fixture.env has no " + key);
    }
    return it->second;
}

std::string PkiFixture::id(const std::string& name) const {
    return readFile(dir_ + "/certs/" + name + ".id");
}

std::string PkiFixture::derBase64(const std::string& name) const {
    std::istringstream in(readFile(pemPath(name)));
    std::string out;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("-----", 0) != 0) {
            out += line;
        }
    }
    return out;
}

CommandResult runCommand(const std::vector<std::string>& argv) {
    return testsys::runProcess(argv);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

TempDir::TempDir() : path_(testsys::makeTempDir()) {}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        old_ = old;
        hadOld_ = true;
    }
    testsys::setEnv(name, value);
}

ScopedEnv::~ScopedEnv() {
    if (hadOld_) {
        testsys::setEnv(name_.c_str(), old_);
    } else {
        testsys::unsetEnv(name_.c_str());
    }
}
