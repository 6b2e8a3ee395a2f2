// The PIN dialogue of the API object over the CryptoAPI engine and the scripted smart card (Wine has no
// smart-card provider of its own): two certificates in the containers of one card behind one PIN.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "PluginPki.h"
#include "ScriptedCard.h"
#include "plugin/KorvaneAPI.h"
#include "signature/RefusedPins.h"
#include "signature/platform/capi/CardMemory.h"
#include "signature/platform/capi/DigitalSignatureUtilCAPI.h"

using namespace plugintest;

namespace {

class KorvaneAPICardTest : public KorvaneAPIEngineTest {
  protected:
    void SetUp() override {
        KorvaneAPIEngineTest::SetUp();
        CardMemory::forgetAll();
        RefusedPins::process().clear();
        ScriptedCard::current = &card;
        ASSERT_TRUE(card.addCertificate(pki::derBase64("auth")));
        KorvaneAPI::setEngineMaker(
            [] { return std::make_unique<DigitalSignatureUtilCAPI>(ScriptedCard::functions()); });
    }
    void TearDown() override {
        Embedded().set("pin", "");
        KorvaneAPI::setEngineMaker(nullptr);
        ScriptedCard::current = nullptr;
        CardMemory::forgetAll();
        RefusedPins::process().clear();
    }
    std::string sign(Embedded& page, const std::string& id) {
        return page.call("signPkcs1", {id, hash}).convert<std::string>();
    }
    bool presented(const std::string& pin) {
        return std::find(card.calls.begin(), card.calls.end(), "presentPin " + pin) != card.calls.end();
    }

    ScriptedCard card;
    const std::string first = pki::id("card");
    const std::string second = pki::id("auth");
    const std::string hash = pki::base64(pki::sampleHash(32));
};

TEST_F(KorvaneAPICardTest, ThePinGoesToTheCertificateThatAskedAndABlockedCardReadsLocked) {
    Embedded page;
    EXPECT_EQ(sign(page, first), "");
    typePin(page, "0000");
    EXPECT_EQ(sign(page, first), "");
    EXPECT_EQ(page.number("lastError"), 5);
    EXPECT_EQ(page.text("pinModuleName"), first);

    // The second certificate asks for its PIN: the PIN the page types next goes to it, not to the first.
    EXPECT_EQ(sign(page, second), "");
    EXPECT_EQ(page.number("lastError"), 11);
    EXPECT_TRUE(page.flag("isPinMissing"));
    EXPECT_EQ(page.text("pinModuleName"), second);

    // The same wrong PIN typed for it is refused without reaching the card.
    card.calls.clear();
    typePin(page, "0000");
    EXPECT_EQ(sign(page, second), "");
    EXPECT_EQ(page.number("lastError"), 5);
    EXPECT_TRUE(page.flag("isPinInvalid"));
    EXPECT_EQ(page.text("pinModuleName"), second);
    EXPECT_FALSE(presented("0000"));
    EXPECT_EQ(card.triesLeft, 2);
    EXPECT_EQ(page.text("pinState"), "unknown");

    // Two more wrong PINs use up the card; it answers the next one as blocked, and nothing after that
    // reaches it.
    for (const char* wrong : {"1111", "2222"}) {
        typePin(page, wrong);
        EXPECT_EQ(sign(page, second), "");
        EXPECT_EQ(page.number("lastError"), 5);
    }
    typePin(page, "3333");
    EXPECT_EQ(sign(page, second), "");
    EXPECT_EQ(page.number("lastError"), 12);
    EXPECT_EQ(static_cast<std::uint32_t>(page.number("lastLowLevelError")), 0x8010006Cu);
    EXPECT_EQ(page.text("pinState"), "locked");
    typePin(page, "1234");
    EXPECT_EQ(sign(page, second), "");
    EXPECT_EQ(page.text("pinState"), "locked");
    EXPECT_FALSE(presented("1234"));
}

}  // namespace
