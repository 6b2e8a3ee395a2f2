#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PkiFixture.h"
#include "signature/Base64.h"
#include "signature/PinCache.h"
#include "signature/platform/nss/DigitalSignatureUtilNSS.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string asString(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// A hash computed by openssl over a data file, as a page would compute it.
Bytes opensslHash(const TempDir& tmp, const std::string& algorithm, const std::string& data) {
    const std::string file = tmp.path() + "/data.txt";
    writeFile(file, data);
    CommandResult r =
        runCommand({"openssl", "dgst", "-" + algorithm, "-binary", "-out", file + ".hash", file});
    EXPECT_EQ(r.status, 0) << r.output;
    return bytesOf(readFile(file + ".hash"));
}

// Verifies an RSASSA-PKCS1-v1_5 signature over a hash with the certificate's public key.
bool opensslVerifies(const TempDir& tmp, const std::string& certificatePem, const std::string& algorithm,
                     const Bytes& hash, const Bytes& signature) {
    writeFile(tmp.path() + "/hash.bin", asString(hash));
    writeFile(tmp.path() + "/sig.bin", asString(signature));
    CommandResult r = runCommand({"openssl", "pkeyutl", "-verify", "-certin", "-inkey", certificatePem, "-in",
                                  tmp.path() + "/hash.bin", "-sigfile", tmp.path() + "/sig.bin", "-pkeyopt",
                                  "rsa_padding_mode:pkcs1", "-pkeyopt", "digest:" + algorithm});
    return r.status == 0 && r.output.find("Signature Verified Successfully") != std::string::npos;
}

// Counts the PINs presented to a token: the proof that a rejected PIN is not tried again.
class CountingEngine : public DigitalSignatureUtilNSS {
  public:
    int presentations = 0;

  protected:
    SECStatus checkUserPassword(PK11SlotInfo* slot, const std::string& pin) override {
        ++presentations;
        return DigitalSignatureUtilNSS::checkUserPassword(slot, pin);
    }
};

class SigningTest : public ::testing::Test {
  protected:
    void SetUp() override { PinCache::instance().clear(); }
    void TearDown() override { PinCache::instance().clear(); }

    std::string sign(const std::string& name, const Bytes& hash) {
        return engine.signPkcs1(pki.id(name), Base64::encode(hash));
    }

    const PkiFixture& pki = PkiFixture::get();
    TempDir tmp;
    CountingEngine engine;
};

}  // namespace

TEST_F(SigningTest, SoftwareKeysSignEveryHashLengthVerifiably) {
    struct Case {
        const char* certificate;
        std::size_t modulusOctets;
    };
    for (const Case& c : {Case{"good", 256}, Case{"good3072", 384}}) {
        for (const char* algorithm : {"md5", "sha1", "sha256"}) {
            const Bytes hash = opensslHash(tmp, algorithm, std::string("contract for ") + c.certificate);
            const std::string signature = sign(c.certificate, hash);
            ASSERT_EQ(engine.getLastError(), 0) << c.certificate << " " << algorithm;
            EXPECT_EQ(signature.find_first_of("\r\n"), std::string::npos);
            const auto octets = Base64::decode(signature, 4096);
            ASSERT_TRUE(octets);
            EXPECT_EQ(octets->size(), c.modulusOctets);
            EXPECT_EQ(signature.size(), (c.modulusOctets + 2) / 3 * 4);
            EXPECT_TRUE(opensslVerifies(tmp, pki.pemPath(c.certificate), algorithm, hash, *octets))
                << c.certificate << " " << algorithm;
            // The check can fail: the same signature does not verify over another hash.
            Bytes other = hash;
            other[0] ^= 1;
            EXPECT_FALSE(opensslVerifies(tmp, pki.pemPath(c.certificate), algorithm, other, *octets));
        }
    }
    EXPECT_EQ(engine.presentations, 0);
    EXPECT_TRUE(PinCache::instance().empty());
}

TEST_F(SigningTest, OddLengthHashIsReadUnderTheAlgorithmItsLengthChooses) {
    // 24 octets: SHA-256, which reads 32 octets from a zeroed buffer.
    const Bytes hash(24, 0x5A);
    const auto octets = Base64::decode(sign("good", hash), 4096);
    ASSERT_TRUE(octets);
    Bytes padded = hash;
    padded.resize(32, 0);
    EXPECT_TRUE(opensslVerifies(tmp, pki.pemPath("good"), "sha256", padded, *octets));
}

TEST_F(SigningTest, ValidityAndIssuerAreNotCheckedAgainWhenSigning) {
    const Bytes hash = opensslHash(tmp, "sha256", "late document");
    auto octets = Base64::decode(sign("expired", hash), 4096);
    ASSERT_TRUE(octets) << engine.getLastError();
    EXPECT_TRUE(opensslVerifies(tmp, pki.pemPath("expired"), "sha256", hash, *octets));

    // The identifier of the accented issuer in the form the page received it, bytes blanked.
    std::string blanked = pki.id("accentuser");
    for (char& ch : blanked) {
        if (static_cast<unsigned char>(ch) > 0x7F) {
            ch = ' ';
        }
    }
    octets = Base64::decode(engine.signPkcs1(blanked, Base64::encode(hash)), 4096);
    ASSERT_TRUE(octets) << engine.getLastError();
    EXPECT_TRUE(opensslVerifies(tmp, pki.pemPath("accentuser"), "sha256", hash, *octets));
}

TEST_F(SigningTest, BadInputGivesItsCodeAndCachesNothing) {
    const std::string hash = Base64::encode(Bytes(32, 7));
    struct Case {
        std::string id;
        std::string data;
        int code;
    };
    const std::vector<Case> cases = {
        {pki.id("card"), "not base64 at all!", 3},
        {pki.id("card"), Base64::encode(Bytes(257, 1)), 3},
        {pki.id("card"), "", 3},
        {"CN=No Dash Here", hash, 12},
        {pki.value("INT2_NAME") + "-%%%", hash, 3},
        {pki.value("INT2_NAME") + "-AAEC", hash, 2},
        // digitalSignature without nonRepudiation, and no key usage at all: never offered by the listing,
        // so never used to sign either.
        {pki.id("auth"), hash, 2},
        {pki.id("noku"), hash, 2},
        // No private key: not in "My".
        {pki.id("nokey"), hash, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(engine.signPkcs1(c.id, c.data), "") << c.id;
        EXPECT_EQ(engine.getLastError(), c.code) << c.id;
        EXPECT_NE(engine.getLastLowLevelError(), 0) << c.id;
        EXPECT_NE(engine.getLastErrorMessage(), "") << c.id;
        EXPECT_TRUE(PinCache::instance().empty()) << c.id;
    }
    EXPECT_EQ(engine.presentations, 0);
}

TEST_F(SigningTest, PinDialogueOnTheCardToken) {
    const std::string id = pki.id("card");
    const std::string pin = pki.value("TOKEN_PIN");
    const Bytes hash = opensslHash(tmp, "sha256", "signed on the card");
    PinCache& cache = PinCache::instance();

    // 1. No PIN yet: the token needs one, the engine asks for it under the identifier.
    EXPECT_EQ(sign("card", hash), "");
    EXPECT_EQ(engine.getLastError(), 11);
    EXPECT_NE(engine.getLastLowLevelError(), 0);
    ASSERT_NE(cache.find(id), nullptr);
    EXPECT_EQ(cache.find(id)->pin, "");
    EXPECT_TRUE(engine.isPinMissing());
    EXPECT_EQ(engine.getModulesWithoutPin(), std::vector<std::string>{id});
    EXPECT_EQ(engine.presentations, 0);

    // 2. The right PIN: presented once, signature made, PIN kept in the cache.
    engine.setPin(id, pin);
    auto octets = Base64::decode(sign("card", hash), 4096);
    ASSERT_TRUE(octets) << engine.getLastError() << " " << engine.getLastErrorMessage();
    EXPECT_EQ(engine.getLastError(), 0);
    EXPECT_TRUE(opensslVerifies(tmp, pki.pemPath("card"), "sha256", hash, *octets));
    EXPECT_EQ(engine.presentations, 1);
    EXPECT_EQ(cache.find(id)->pin, pin);

    // The token was logged out: the cached PIN is presented again for the next signature...
    EXPECT_NE(sign("card", hash), "");
    EXPECT_EQ(engine.presentations, 2);
    // ...and without it the token needs the PIN again.
    engine.clearPins();
    EXPECT_EQ(sign("card", hash), "");
    EXPECT_EQ(engine.getLastError(), 11);
    EXPECT_EQ(engine.presentations, 2);

    // 3. A wrong PIN: refused by the token, entry marked, count 1.
    engine.setPin(id, "0000");
    EXPECT_EQ(sign("card", hash), "");
    EXPECT_EQ(engine.getLastError(), 5);
    EXPECT_EQ(engine.presentations, 3);
    EXPECT_TRUE(engine.isPinInvalid());
    EXPECT_EQ(engine.getModulesWithInvalidPin(), std::vector<std::string>{id});
    EXPECT_EQ(engine.getPinRetryCount(id), 1);

    // 4. The same wrong PIN again: refused at once, the token is not contacted, the count stays.
    engine.setPin(id, "0000");
    EXPECT_EQ(sign("card", hash), "");
    EXPECT_EQ(engine.getLastError(), 5);
    EXPECT_EQ(engine.presentations, 3);
    EXPECT_EQ(engine.getPinRetryCount(id), 1);

    // 5. A different PIN clears the mark, keeps the count, and is presented.
    engine.setPin(id, "5555");
    EXPECT_FALSE(engine.isPinInvalid());
    EXPECT_EQ(engine.getPinRetryCount(id), 1);
    EXPECT_EQ(sign("card", hash), "");
    EXPECT_EQ(engine.getLastError(), 5);
    EXPECT_EQ(engine.presentations, 4);
    EXPECT_EQ(engine.getPinRetryCount(id), 2);

    engine.setPin(id, pin);
    EXPECT_NE(sign("card", hash), "");
    EXPECT_EQ(engine.getLastError(), 0);
    EXPECT_EQ(engine.presentations, 5);
    EXPECT_FALSE(engine.isPinInvalid());
    EXPECT_EQ(engine.getPinRetryCount(id), 2);

    // 6. Asked for the PIN again (here: the PIN was cleared): the entry starts over at count 0.
    engine.clearPins();
    EXPECT_EQ(sign("card", hash), "");
    EXPECT_EQ(engine.getLastError(), 11);
    EXPECT_EQ(engine.getPinRetryCount(id), 0);
}

TEST_F(SigningTest, ListingDoesNotLogInEvenWithACachedPin) {
    engine.setPin(pki.id("card"), pki.value("TOKEN_PIN"));
    EXPECT_NE(engine.getDigitalSignatureCertificates(pki.value("ROOT_NAME")), "");
    EXPECT_EQ(engine.presentations, 0);
    // A fresh entry for the card: still not logged in, so the PIN is needed.
    engine.clearPins();
    EXPECT_EQ(sign("card", Bytes(20, 1)), "");
    EXPECT_EQ(engine.getLastError(), 11);
}
