// Certificate identifiers as pages hand them back: issuer text, "-", Base64 of the serial octets.
// An identifier built the way the listing builds it must parse back to the same issuer and serial, even
// when the issuer holds "-" itself; its blanked form must still match the issuer; and any text at all
// must come back from getCertificate as a refusal with a defined error code, never a certificate.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "EngineHome.h"
#include "FuzzInput.h"
#include "signature/Base64.h"
#include "signature/ErrorCode.h"
#include "signature/platform/nss/DigitalSignatureUtilNSS.h"

namespace {

std::string blanked(std::string text) {
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7F) {
            c = ' ';
        }
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    useEmptyHome();
    static DigitalSignatureUtilNSS engine;
    FuzzInput in(data, size);
    const std::string issuer = in.text();
    const std::vector<std::uint8_t> serial = in.bytes(64);
    const std::string raw = in.rest();

    // The listing's form.
    const std::string id = issuer + "-" + Base64::encode(serial);
    const auto parsed = engine.parseCertificateIdentifier(id);
    if (serial.empty()) {
        FUZZ_CHECK(!parsed);
    } else {
        FUZZ_CHECK(parsed && parsed->issuer == issuer && parsed->serial == serial);
    }
    FUZZ_CHECK(DigitalSignatureUtil::issuerTextMatches(issuer, issuer));
    FUZZ_CHECK(DigitalSignatureUtil::issuerTextMatches(issuer, blanked(issuer)));

    // Any text.
    if (const auto any = engine.parseCertificateIdentifier(raw)) {
        const std::size_t dash = raw.rfind('-');
        FUZZ_CHECK(dash != std::string::npos && any->issuer == raw.substr(0, dash));
        FUZZ_CHECK(!any->serial.empty());
    }
    for (const std::string& text : {id, raw}) {
        FUZZ_CHECK(engine.getCertificate(text).empty());
        const auto error = static_cast<ErrorCode>(engine.getLastError());
        FUZZ_CHECK(error == ErrorCode::CertificateNotFound || error == ErrorCode::InvalidEncoding);
        FUZZ_CHECK(engine.signPkcs1(text, "AAAAAAAAAAAAAAAAAAAAAAAAAAA=").empty());
        FUZZ_CHECK(engine.getLastError() != 0);
    }
    return 0;
}
