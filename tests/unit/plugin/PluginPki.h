#pragma once

// Short forms of the shared store fixture for the plug-in tests, and signature verification with openssl.

#include <string>
#include <vector>

namespace pki {

std::string value(const std::string& key);
std::string pemPath(const std::string& name);
std::string id(const std::string& name);
// Base64 of the certificate's DER on one line, as getCertificate returns it.
std::string derBase64(const std::string& name);

// Whether openssl accepts signatureBase64 as the PKCS#1 v1.5 signature of hash (raw octets) by the key
// of the certificate `name`; digest is "md5", "sha1" or "sha256".
bool verifies(const std::string& name, const std::string& digest, const std::vector<unsigned char>& hash,
              const std::string& signatureBase64);

}  // namespace pki
