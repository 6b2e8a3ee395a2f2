#include "PkiFixture.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "signature/Base64.h"

namespace pki {

namespace {

std::string fixtureDir() {
    const char* dir = std::getenv("KORVANE_PKI_DIR");
    if (!dir || !*dir)
        throw std::runtime_error("KORVANE_PKI_DIR is not set; run through ctest (fixture make_pki)");
    return dir;
}

class FixtureHome : public ::testing::Environment {
  public:
    void SetUp() override {
        setenv("HOME", (fixtureDir() + "/home").c_str(), 1);
        setenv("SOFTHSM2_CONF", (fixtureDir() + "/softhsm2.conf").c_str(), 1);
    }
};
[[maybe_unused]] ::testing::Environment* const fixtureHome =
    ::testing::AddGlobalTestEnvironment(new FixtureHome);

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// Runs a program without a shell; its exit status, output discarded.
int run(const std::vector<std::string>& argv) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string value(const std::string& key) {
    static const std::map<std::string, std::string> values = [] {
        std::map<std::string, std::string> out;
        std::istringstream in(readFile(fixtureDir() + "/fixture.env"));
        for (std::string line; std::getline(in, line);) {
            const auto eq = line.find('=');
            if (eq != std::string::npos)
                out[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return out;
    }();
    auto it = values.find(key);
    if (it == values.end())
        throw std::runtime_error("fixture.env has no " + key);
    return it->second;
}

std::string pemPath(const std::string& name) {
    return fixtureDir() + "/certs/" + name + ".pem";
}

std::string id(const std::string& name) {
    return readFile(fixtureDir() + "/certs/" + name + ".id");
}

std::string derBase64(const std::string& name) {
    std::istringstream in(readFile(pemPath(name)));
    std::string out;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("-----", 0) != 0)
            out += line;
    }
    return out;
}

bool verifies(const std::string& name, const std::string& digest, const std::vector<unsigned char>& hash,
              const std::string& signatureBase64) {
    auto signature = Base64::decode(signatureBase64, 4096);
    if (!signature)
        return false;
    std::string pattern = (std::filesystem::temp_directory_path() / "korvane-plugin-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    const std::string dir = pattern;
    writeFile(dir + "/hash.bin", std::string(hash.begin(), hash.end()));
    writeFile(dir + "/sig.bin", std::string(signature->begin(), signature->end()));
    const int status = run({"openssl", "pkeyutl", "-verify", "-certin", "-inkey", pemPath(name), "-in",
                            dir + "/hash.bin", "-sigfile", dir + "/sig.bin", "-pkeyopt", "digest:" + digest});
    std::filesystem::remove_all(dir);
    return status == 0;
}

}  // namespace pki
