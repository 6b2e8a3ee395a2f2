// The fixture as the Linux engine meets it: NSS writes names in UTF-8, as make-pki does, and signatures
// are checked with openssl.

#include <atomic>

#include "PkiFixture.h"

std::string PkiFixture::engineText(const std::string& name) {
    return name;
}

std::string PkiFixture::engineIdentifier(const std::string& linuxId) {
    return linuxId;
}

bool PkiFixture::verifies(const std::string& certificate, const std::string& digest,
                          const std::vector<unsigned char>& hash,
                          const std::vector<unsigned char>& signature) const {
    static std::atomic<int> counter{0};
    TempDir dir;
    const std::string base = dir.path() + "/" + std::to_string(counter++);
    writeFile(base + ".hash", std::string(hash.begin(), hash.end()));
    writeFile(base + ".sig", std::string(signature.begin(), signature.end()));
    return runCommand({KORVANE_OPENSSL, "pkeyutl", "-verify", "-certin", "-inkey", pemPath(certificate),
                       "-in", base + ".hash", "-sigfile", base + ".sig", "-pkeyopt", "digest:" + digest})
               .status == 0;
}
