#pragma once

// Short forms of the shared store fixture for the plug-in tests against the real engine of the platform
// (NSS on Linux, the CryptoAPI under Wine), and the fixture those tests share.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PluginTestSupport.h"

namespace pki {

// A fixture.env value, as make-pki wrote it (UTF-8): what a page passes in "CaSubjectNames".
std::string value(const std::string& key);
// An authority name and a certificate identifier as this platform's engine writes them.
std::string name(const std::string& key);
std::string id(const std::string& certificate);
// Base64 of the certificate's DER on one line, as getCertificate returns it.
std::string derBase64(const std::string& certificate);

// Whether openssl accepts signatureBase64 as the PKCS#1 v1.5 signature of hash (raw octets) by the key
// of `certificate`; digest is "md5", "sha1" or "sha256".
bool verifies(const std::string& certificate, const std::string& digest,
              const std::vector<unsigned char>& hash, const std::string& signatureBase64);

std::vector<unsigned char> sampleHash(std::size_t size);
std::string base64(const std::vector<unsigned char>& octets);

}  // namespace pki

class KorvaneAPIEngineTest : public ::testing::Test {
  protected:
    // Every test starts with an empty process-wide PIN cache, as a page would get it with pin = "".
    void SetUp() override { plugintest::Embedded().set("pin", ""); }

    static void typePin(plugintest::Embedded& page, const std::string& pin) {
        for (char c : pin)
            page.call("processPinChar", {std::string(1, c)});
    }
};
