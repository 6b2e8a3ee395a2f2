// The NSS engine against the emulated PIV card (tests/fixtures/card) through pcscd and OpenSC: what
// SoftHSM2 cannot show, a card that counts tries, blocks and keeps two signing keys behind one PIN.
// Runs inside the card's namespace, one process for the whole suite (OpenSC's first read of a card
// takes over a second).

#include <gtest/gtest.h>

#include "CardFixture.h"
#include "ListingText.h"
#include "PkiFixture.h"
#include "SystemServices.h"
#include "signature/Base64.h"
#include "signature/PinCache.h"
#include "signature/PinState.h"
#include "signature/platform/nss/DigitalSignatureUtilNSS.h"

namespace {

using contract::Bytes;
using contract::hashOf;

class NssCardTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // The card's store instead of the software one: its only user certificates are the card's.
        testsys::setEnv("HOME", CardFixture::get().home());
    }
    void SetUp() override {
        PinCache::clearEveryOrigin();
        card.reset();
    }
    void TearDown() override {
        PinCache::clearEveryOrigin();
        card.reset();
    }

    std::string id(const char* key) { return pki.id(card.value(key)); }
    // Signs and checks the signature with openssl against the card's certificate for that key.
    void signsAndVerifies(const char* key, const char* digest, std::size_t octets) {
        const Bytes hash = hashOf(std::string("on the card ") + key + digest, octets);
        const std::string signature = engine.signPkcs1(id(key), Base64::encode(hash));
        ASSERT_EQ(engine.getLastError(), 0) << key << " " << digest << ": " << engine.getLastLowLevelError()
                                            << " " << engine.getLastErrorMessage();
        const auto decoded = Base64::decode(signature, 4096);
        ASSERT_TRUE(decoded) << signature;
        EXPECT_TRUE(pki.verifies(card.value(key), digest, hash, *decoded)) << key << " " << digest;
    }

    const PkiFixture& pki = PkiFixture::get();
    const CardFixture& card = CardFixture::get();
    DigitalSignatureUtilNSS engine;
};

}  // namespace

TEST_F(NssCardTest, ListsTheCardsTwoSigningCertificatesWithoutAPin) {
    const std::string listing = engine.getDigitalSignatureCertificates(card.value("CARD_CA"));
    EXPECT_EQ(engine.getLastError(), 0);
    std::set<std::string> ids;
    for (const contract::Listed& entry : contract::parseListing(listing)) {
        EXPECT_EQ(entry.issuer, card.value("CARD_ISSUER"));
        ids.insert(entry.id);
    }
    // The authentication certificate (9A) has no non-repudiation use and is left out.
    EXPECT_EQ(ids, (std::set<std::string>{id("CARD_SIGN_CERT"), id("CARD_SIGN2_CERT")})) << listing;
    for (const char* key : {"CARD_SIGN_CERT", "CARD_SIGN2_CERT"}) {
        EXPECT_EQ(engine.getCertificate(id(key)), pki.derBase64(card.value(key))) << key;
    }
    EXPECT_EQ(card.pinTriesLeft(), 3);
    EXPECT_FALSE(engine.isPinMissing());
}

TEST_F(NssCardTest, BothKeysSignEveryHashLengthUnderOnePin) {
    engine.setPin(id("CARD_SIGN_CERT"), card.pin());
    engine.setPin(id("CARD_SIGN2_CERT"), card.pin());
    struct Algorithm {
        const char* digest;
        std::size_t octets;
    };
    for (const char* key : {"CARD_SIGN_CERT", "CARD_SIGN2_CERT"}) {
        for (const Algorithm& a : {Algorithm{"md5", 16}, Algorithm{"sha1", 20}, Algorithm{"sha256", 32},
                                   Algorithm{"sha384", 48}, Algorithm{"sha512", 64}}) {
            signsAndVerifies(key, a.digest, a.octets);
        }
    }
    EXPECT_EQ(card.pinTriesLeft(), 3);
}

TEST_F(NssCardTest, PinDialogueFollowsTheCardsCounter) {
    const std::string sign = id("CARD_SIGN_CERT");
    const std::string hash = Base64::encode(hashOf("pin dialogue", 32));

    EXPECT_EQ(engine.signPkcs1(sign, hash), "");
    EXPECT_EQ(engine.getLastError(), 11);
    EXPECT_EQ(engine.getModulesWithoutPin(), std::vector<std::string>{sign});
    EXPECT_EQ(card.pinPresentations(), 0) << "asking for the PIN sends none";

    engine.setPin(sign, "000000");
    EXPECT_EQ(engine.signPkcs1(sign, hash), "");
    EXPECT_EQ(engine.getLastError(), 5);
    EXPECT_EQ(engine.getLastLowLevelError(), -8177);
    EXPECT_TRUE(engine.isPinInvalid());
    EXPECT_EQ(card.pinTriesLeft(), 2);
    EXPECT_EQ(card.pinPresentations(), 1);
    EXPECT_EQ(engine.getPinState(sign), PinState::Ok);

    // The same wrong PIN again is refused without reaching the card.
    engine.setPin(sign, "000000");
    EXPECT_EQ(engine.signPkcs1(sign, hash), "");
    EXPECT_EQ(engine.getLastError(), 5);
    EXPECT_EQ(card.pinPresentations(), 1);
    EXPECT_EQ(card.pinTriesLeft(), 2);

    // Another wrong PIN leaves one try: the card says so.
    engine.setPin(sign, "999999");
    EXPECT_EQ(engine.signPkcs1(sign, hash), "");
    EXPECT_EQ(engine.getLastError(), 5);
    EXPECT_EQ(card.pinTriesLeft(), 1);
    EXPECT_EQ(engine.getPinState(sign), PinState::FinalTry);

    // The right PIN signs and gives the card its tries back.
    engine.setPin(sign, card.pin());
    signsAndVerifies("CARD_SIGN_CERT", "sha256", 32);
    EXPECT_EQ(card.pinTriesLeft(), 3);
    EXPECT_EQ(engine.getPinState(sign), PinState::Ok) << "no last-try warning after a success";
}

TEST_F(NssCardTest, PukUnblockReturnsTheCardToUse) {
    const std::string sign = id("CARD_SIGN2_CERT");
    const std::string hash = Base64::encode(hashOf("blocked", 32));
    // Three different wrong PINs block the card; then even the right one is refused.
    for (const char* wrong : {"111111", "222222", "333333"}) {
        engine.setPin(sign, wrong);
        EXPECT_EQ(engine.signPkcs1(sign, hash), "") << wrong;
    }
    EXPECT_EQ(card.pinTriesLeft(), 0);
    EXPECT_EQ(engine.getPinState(sign), PinState::Locked);
    engine.setPin(sign, card.pin());
    EXPECT_EQ(engine.signPkcs1(sign, hash), "");
    EXPECT_NE(engine.getLastError(), 0);
    EXPECT_EQ(card.pinTriesLeft(), 0);
    EXPECT_EQ(card.pinPresentations(), 3) << "nothing is presented to a blocked card";

    // The holder unblocks it with the PUK and a new PIN, outside Korvane, as OpenSC's tools do it.
    const std::string newPin = "654321";
    const CommandResult unblock = runCommand(
        {"pkcs15-tool", "--unblock-pin", "--auth-id", "01", "--puk", card.puk(), "--new-pin", newPin});
    ASSERT_EQ(unblock.status, 0) << unblock.output;
    EXPECT_EQ(card.pinTriesLeft(), 3);
    EXPECT_EQ(card.currentPin(), newPin);

    engine.setPin(sign, newPin);
    signsAndVerifies("CARD_SIGN2_CERT", "sha256", 32);
    EXPECT_EQ(engine.getPinState(sign), PinState::Ok);
}
