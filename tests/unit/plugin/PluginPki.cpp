#include "PluginPki.h"

#include "PkiFixture.h"
#include "signature/Base64.h"

namespace pki {

std::string value(const std::string& key) {
    return PkiFixture::get().value(key);
}

std::string pemPath(const std::string& name) {
    return PkiFixture::get().pemPath(name);
}

std::string id(const std::string& name) {
    return PkiFixture::get().id(name);
}

std::string derBase64(const std::string& name) {
    return PkiFixture::get().derBase64(name);
}

bool verifies(const std::string& name, const std::string& digest, const std::vector<unsigned char>& hash,
              const std::string& signatureBase64) {
    auto signature = Base64::decode(signatureBase64, 4096);
    if (!signature) {
        return false;
    }
    TempDir dir;
    writeFile(dir.path() + "/hash.bin", std::string(hash.begin(), hash.end()));
    writeFile(dir.path() + "/sig.bin", std::string(signature->begin(), signature->end()));
    return runCommand({"openssl", "pkeyutl", "-verify", "-certin", "-inkey", pemPath(name), "-in",
                       dir.path() + "/hash.bin", "-sigfile", dir.path() + "/sig.bin", "-pkeyopt",
                       "digest:" + digest})
               .status == 0;
}

}  // namespace pki
