#include "PluginPki.h"

#include "PkiFixture.h"
#include "signature/Base64.h"

namespace pki {

std::string value(const std::string& key) {
    return PkiFixture::get().value(key);
}

std::string name(const std::string& key) {
    return PkiFixture::get().engineName(key);
}

std::string id(const std::string& certificate) {
    return PkiFixture::get().engineId(certificate);
}

std::string derBase64(const std::string& certificate) {
    return PkiFixture::get().derBase64(certificate);
}

bool verifies(const std::string& certificate, const std::string& digest,
              const std::vector<unsigned char>& hash, const std::string& signatureBase64) {
    auto signature = Base64::decode(signatureBase64, 4096);
    return signature && PkiFixture::get().verifies(certificate, digest, hash, *signature);
}

std::vector<unsigned char> sampleHash(std::size_t size) {
    std::vector<unsigned char> hash(size);
    for (std::size_t i = 0; i < size; ++i)
        hash[i] = static_cast<unsigned char>(i * 7 + 3);
    return hash;
}

std::string base64(const std::vector<unsigned char>& octets) {
    return Base64::encode(octets.data(), octets.size());
}

}  // namespace pki
