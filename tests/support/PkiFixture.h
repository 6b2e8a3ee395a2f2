#pragma once

#include <map>
#include <string>
#include <vector>

#include "SystemServices.h"

// What tests/fixtures/make-pki left in $KORVANE_PKI_DIR: its fixture.env values, and per certificate the
// PEM file and the identifier the engine must give it.
class PkiFixture {
  public:
    static const PkiFixture& get();

    std::string value(const std::string& key) const;
    std::string dir() const { return dir_; }
    std::string pemPath(const std::string& name) const { return dir_ + "/certs/" + name + ".pem"; }
    std::string id(const std::string& name) const;
    // Base64 of the certificate's DER, one line, as the engine returns it.
    std::string derBase64(const std::string& name) const;

    // The fixture's texts as this platform's engine writes them (platform/*/EngineTexts.cpp): NSS keeps
    // make-pki's UTF-8; the CryptoAPI writes the ANSI code page, and Wine quotes some values.
    static std::string engineText(const std::string& name);
    // A make-pki identifier (the Linux engine's) as this platform's engine writes it.
    static std::string engineIdentifier(const std::string& linuxId);
    std::string engineName(const std::string& key) const { return engineText(value(key)); }
    std::string engineId(const std::string& certificate) const { return engineIdentifier(id(certificate)); }

    // Whether `signature` (most significant octet first) is the PKCS#1 v1.5 signature of `hash` by the
    // key of `certificate`, checked against the certificate's public key; digest is "md5", "sha1" or
    // "sha256".
    bool verifies(const std::string& certificate, const std::string& digest,
                  const std::vector<unsigned char>& hash, const std::vector<unsigned char>& signature) const;

  private:
    std::string dir_;
    std::map<std::string, std::string> values_;
};

using CommandResult = testsys::ProcessResult;

// Runs a program (no shell) and waits for it.
CommandResult runCommand(const std::vector<std::string>& argv);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

// A fresh directory under the build's temporary area, removed with the object.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Sets an environment variable for the object's lifetime.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();

  private:
    std::string name_;
    std::string old_;
    bool hadOld_ = false;
};
