#include <gtest/gtest.h>

#include <filesystem>

#include "EngineContract.h"
#include "signature/RefusedPins.h"
#include "signature/platform/nss/DigitalSignatureUtilNSS.h"

namespace {

using contract::Bytes;

std::string asString(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

// Verifies an RSASSA-PKCS1-v1_5 signature over a hash with the certificate's public key.
bool opensslVerifies(const std::string& certificate, const std::string& algorithm, const Bytes& hash,
                     const Bytes& signature) {
    const TempDir tmp;
    writeFile(tmp.path() + "/hash.bin", asString(hash));
    writeFile(tmp.path() + "/sig.bin", asString(signature));
    const CommandResult r = runCommand(
        {"openssl", "pkeyutl", "-verify", "-certin", "-inkey", PkiFixture::get().pemPath(certificate), "-in",
         tmp.path() + "/hash.bin", "-sigfile", tmp.path() + "/sig.bin", "-pkeyopt", "rsa_padding_mode:pkcs1",
         "-pkeyopt", "digest:" + algorithm});
    return r.status == 0 && r.output.find("Signature Verified Successfully") != std::string::npos;
}

class ClockedEngine : public DigitalSignatureUtilNSS {
  public:
    explicit ClockedEngine(PRTime now) : now_(now) {}

  protected:
    PRTime currentTime() const override { return now_; }

  private:
    PRTime now_;
};

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

}  // namespace

// The NSS engine's side of the contract.
struct NssDelegate {
    static constexpr bool kTextForEveryError = true;
    static std::unique_ptr<DigitalSignatureUtil> make() {
        return std::make_unique<DigitalSignatureUtilNSS>();
    }
    static std::unique_ptr<DigitalSignatureUtil> makeAt(std::int64_t unixSeconds) {
        return std::make_unique<ClockedEngine>(unixSeconds * PR_USEC_PER_SEC);
    }
    // NSS texts are UTF-8, as make-pki writes them.
    static std::string name(const std::string& key) { return PkiFixture::get().value(key); }
    static std::string id(const std::string& certificate) { return PkiFixture::get().id(certificate); }
    static void checkSignature(const std::string& certificate, const std::string& algorithm,
                               const Bytes& hash, const Bytes& signature) {
        EXPECT_TRUE(opensslVerifies(certificate, algorithm, hash, signature))
            << certificate << " " << algorithm;
        // The check can fail: the same signature does not verify over another hash.
        Bytes other = hash;
        other[0] ^= 1;
        EXPECT_FALSE(opensslVerifies(certificate, algorithm, other, signature));
    }
};

namespace contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Nss, EngineContract, NssDelegate);
}  // namespace contract

namespace {

class NssSigningTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PinCache::clearEveryOrigin();
        RefusedPins::process().clear();
    }
    void TearDown() override { PinCache::clearEveryOrigin(); }

    std::string sign(const std::string& name, const Bytes& hash) {
        return engine.signPkcs1(pki.id(name), Base64::encode(hash));
    }

    const PkiFixture& pki = PkiFixture::get();
    CountingEngine engine;
};

}  // namespace

TEST_F(NssSigningTest, KeysWithoutNonRepudiationOrWithoutAKeyAreNotFoundForSigning) {
    // Never offered by the listing, so never used to sign either; no private key: not in "My".
    for (const char* name : {"auth", "noku", "nokey"}) {
        EXPECT_EQ(sign(name, Bytes(32, 7)), "") << name;
        EXPECT_EQ(engine.getLastError(), 2) << name;
    }
    EXPECT_EQ(engine.getCertificate(pki.id("nokey")), "");
    EXPECT_EQ(engine.getLastError(), 2);
    EXPECT_EQ(engine.presentations, 0);
}

TEST_F(NssSigningTest, PinDialogueOnTheCardToken) {
    const std::string id = pki.id("card");
    const std::string pin = pki.value("TOKEN_PIN");
    const Bytes hash = contract::hashOf("signed on the card", 32);
    PinCache& cache = PinCache::forOrigin("");

    // 1. No PIN yet: the token needs one, the engine asks for it under the identifier.
    EXPECT_EQ(sign("card", hash), "");
    EXPECT_EQ(engine.getLastError(), 11);
    EXPECT_NE(engine.getLastLowLevelError(), 0);
    ASSERT_NE(cache.find(id), nullptr);
    EXPECT_EQ(cache.find(id)->pin, "");
    EXPECT_EQ(engine.getModulesWithoutPin(), std::vector<std::string>{id});
    EXPECT_EQ(engine.presentations, 0);

    // 2. The right PIN: presented once, signature made, PIN kept in the cache.
    engine.setPin(id, pin);
    auto octets = Base64::decode(sign("card", hash), 4096);
    ASSERT_TRUE(octets) << engine.getLastError() << " " << engine.getLastErrorMessage();
    EXPECT_TRUE(opensslVerifies("card", "sha256", hash, *octets));
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
    EXPECT_EQ(sign("card", hash), "");
    EXPECT_EQ(engine.getLastError(), 5);
    EXPECT_EQ(engine.presentations, 4);
    EXPECT_EQ(engine.getPinRetryCount(id), 2);

    engine.setPin(id, pin);
    EXPECT_NE(sign("card", hash), "");
    EXPECT_EQ(engine.presentations, 5);
    EXPECT_FALSE(engine.isPinInvalid());
    EXPECT_EQ(engine.getPinRetryCount(id), 2);

    // 6. Asked for the PIN again (here: the PIN was cleared): the entry starts over at count 0.
    engine.clearPins();
    EXPECT_EQ(sign("card", hash), "");
    EXPECT_EQ(engine.getLastError(), 11);
    EXPECT_EQ(engine.getPinRetryCount(id), 0);
}

TEST_F(NssSigningTest, ListingDoesNotLogInEvenWithACachedPin) {
    engine.setPin(pki.id("card"), pki.value("TOKEN_PIN"));
    EXPECT_NE(engine.getDigitalSignatureCertificates(pki.value("ROOT_NAME")), "");
    EXPECT_EQ(engine.presentations, 0);
    engine.clearPins();
    EXPECT_EQ(sign("card", Bytes(20, 1)), "");
    EXPECT_EQ(engine.getLastError(), 11);
}

TEST(NssDatabase, MissingDatabaseListsNothingWithoutError) {
    TempDir home;
    ScopedEnv env("HOME", home.path());
    DigitalSignatureUtilNSS engine;
    EXPECT_EQ(engine.getDigitalSignatureCertificates(PkiFixture::get().value("ROOT_NAME")), "");
    EXPECT_EQ(engine.getLastError(), 0);
    EXPECT_EQ(engine.getCertificate(PkiFixture::get().id("good")), "");
    EXPECT_EQ(engine.getLastError(), 2);
}

TEST(NssDatabase, UnreadableDatabaseIsAStoreThatCannotBeOpened) {
    TempDir home;
    const std::string db = home.path() + "/.pki/nssdb";
    std::filesystem::create_directories(db);
    writeFile(db + "/cert9.db", std::string(8192, 'x'));
    writeFile(db + "/key4.db", std::string(8192, 'x'));
    ScopedEnv env("HOME", home.path());
    DigitalSignatureUtilNSS engine;
    EXPECT_EQ(engine.getDigitalSignatureCertificates(PkiFixture::get().value("ROOT_NAME")), "");
    EXPECT_EQ(engine.getLastError(), 12);
    EXPECT_LT(engine.getLastLowLevelError(), 0);  // NSS error codes are negative
    EXPECT_NE(engine.getLastErrorMessage(), "");
    EXPECT_EQ(engine.getCertificate(PkiFixture::get().id("good")), "");
    EXPECT_EQ(engine.getLastError(), 12);
}
