#include "PkiFixture.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {
// Points the engine at the fixture: HOME=DIR/home (so sql:$HOME/.pki/nssdb is the fixture's database)
// and SOFTHSM2_CONF=DIR/softhsm2.conf (so the token registered there is found).
class FixtureHome : public ::testing::Environment {
  public:
    void SetUp() override {
        if (const char* dir = std::getenv("KORVANE_PKI_DIR"); dir && *dir) {
            setenv("HOME", (std::string(dir) + "/home").c_str(), 1);
            setenv("SOFTHSM2_CONF", (std::string(dir) + "/softhsm2.conf").c_str(), 1);
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
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        dup2(pipeFds[1], STDERR_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    CommandResult result;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
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

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvane-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        old_ = old;
        hadOld_ = true;
    }
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (hadOld_) {
        setenv(name_.c_str(), old_.c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}
