// Encoded names as certificates carry them, through the renderer that makes the listing's issuer and
// subject texts and the identifiers. The input is a DER name, a whole DER certificate, the content of an
// object identifier or one attribute value, chosen by the first byte. The rendering stays within its
// length; a certificate's identifier, built as the listing builds it, parses and finds that certificate
// again; object identifiers come out dotted or not at all.
#include <cstddef>
#include <cstdint>
#include <string>

#include <cert.h>
#include <nss.h>
#include <secasn1.h>
#include <secport.h>

#include "EngineHome.h"
#include "FuzzInput.h"
#include "signature/platform/nss/DigitalSignatureUtilNSS.h"
#include "signature/platform/nss/X500NameText.h"

namespace {

bool isDotted(const std::string& text) {
    if (text.empty()) {
        return true;
    }
    bool digitBefore = false;
    int dots = 0;
    for (char c : text) {
        if (c == '.') {
            if (!digitBefore) {
                return false;
            }
            ++dots;
            digitBefore = false;
        } else if (c >= '0' && c <= '9') {
            digitBefore = true;
        } else {
            return false;
        }
    }
    return digitBefore && dots >= 1;
}

void renderName(const std::string& der) {
    PLArenaPool* arena = PORT_NewArena(DER_DEFAULT_CHUNKSIZE);
    CERTName name{};
    SECItem item{siBuffer, reinterpret_cast<unsigned char*>(const_cast<char*>(der.data())),
                 static_cast<unsigned int>(der.size())};
    if (SEC_QuickDERDecodeItem(arena, &name, SEC_ASN1_GET(CERT_NameTemplate), &item) == SECSuccess) {
        FUZZ_CHECK(X500NameText::render(name).size() <= X500NameText::kMaxLength);
    }
    PORT_FreeArena(arena, PR_FALSE);
}

void renderCertificate(DigitalSignatureUtilNSS& engine, const std::string& der) {
    SECItem item{siBuffer, reinterpret_cast<unsigned char*>(const_cast<char*>(der.data())),
                 static_cast<unsigned int>(der.size())};
    CERTCertificate* cert =
        CERT_NewTempCertificate(CERT_GetDefaultCertDB(), &item, nullptr, PR_FALSE, PR_TRUE);
    if (cert == nullptr) {
        return;
    }
    FUZZ_CHECK(DigitalSignatureUtilNSS::nameToText(cert->subject).size() <= X500NameText::kMaxLength);
    const std::string id = DigitalSignatureUtilNSS::certificateIdentifier(*cert);
    // An empty serial has no Base64 form that decodes, and identifiers carry at most 2048 serial octets.
    if (cert->serialNumber.len > 0 && cert->serialNumber.len <= 2048) {
        const auto parsed = engine.parseCertificateIdentifier(id);
        FUZZ_CHECK(parsed);
        FUZZ_CHECK(DigitalSignatureUtilNSS::matchesIdentifier(*cert, *parsed));
    }
    CERT_DestroyCertificate(cert);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    useEmptyHome();
    static const bool nss = NSS_NoDB_Init(nullptr) == SECSuccess;
    FUZZ_CHECK(nss);
    static DigitalSignatureUtilNSS engine;
    FuzzInput in(data, size);
    const std::size_t mode = in.pick(4);
    const std::string rest = in.rest();
    const auto* bytes = reinterpret_cast<const unsigned char*>(rest.data());

    switch (mode) {
        case 0:
            renderName(rest);
            break;
        case 1:
            renderCertificate(engine, rest);
            break;
        case 2:
            FUZZ_CHECK(isDotted(X500NameText::dottedOid(bytes, rest.size())));
            break;
        default: {
            const std::string text = X500NameText::valueText(bytes, rest.size());
            if (!text.empty() && text[0] == '#' && text.size() == 1 + 2 * rest.size()) {
                FUZZ_CHECK(text.find_first_not_of("0123456789ABCDEF", 1) == std::string::npos);
            }
            break;
        }
    }
    return 0;
}
