// The PIN dialogue of the signing API object with the fixture's SoftHSM2 token behind the NSS engine.
// Wine has no smart-card provider, so there is no Windows twin; the CryptoAPI engine's card paths are
// tested against a scripted provider.

#include <gtest/gtest.h>

#include <string>

#include "PluginPki.h"

using namespace plugintest;
using pki::base64;
using pki::sampleHash;

namespace {

TEST_F(KorvaneAPIEngineTest, PinDialogueOnTheToken) {
    const std::string card = pki::id("card");
    const auto hash = sampleHash(32);
    Embedded page;

    // No PIN yet: the page learns which key needs one.
    EXPECT_EQ(page.call("signPkcs1", {card, base64(hash)}).convert<std::string>(), "");
    EXPECT_EQ(page.number("lastError"), 11);
    EXPECT_TRUE(page.flag("isPinMissing"));
    EXPECT_FALSE(page.flag("isPinInvalid"));
    EXPECT_EQ(page.text("pinModuleName"), card);
    EXPECT_EQ(page.number("pinRetryCount"), 0);

    // A wrong PIN, typed with one correction.
    typePin(page, "9990");
    page.call("deletePinChar");
    typePin(page, "9");
    EXPECT_EQ(page.number("pinLength"), 4);
    EXPECT_EQ(page.call("signPkcs1", {card, base64(hash)}).convert<std::string>(), "");
    EXPECT_EQ(page.number("pinLength"), 0) << "handed over and wiped";
    EXPECT_EQ(page.number("lastError"), 5);
    EXPECT_EQ(page.number("lastLowLevelError"), -8177);
    EXPECT_TRUE(page.flag("isPinInvalid"));
    EXPECT_FALSE(page.flag("isPinMissing"));
    EXPECT_EQ(page.text("pinModuleName"), card);
    EXPECT_EQ(page.number("pinRetryCount"), 1);

    // The same wrong PIN again is not presented to the card a second time.
    typePin(page, "9999");
    EXPECT_EQ(page.call("signPkcs1", {card, base64(hash)}).convert<std::string>(), "");
    EXPECT_EQ(page.number("lastError"), 5);
    EXPECT_TRUE(page.flag("isPinInvalid"));
    EXPECT_EQ(page.number("pinRetryCount"), 1);

    // The right one.
    typePin(page, pki::value("TOKEN_PIN"));
    const std::string signature = page.call("signPkcs1", {card, base64(hash)}).convert<std::string>();
    EXPECT_TRUE(pki::verifies("card", "sha256", hash, signature));
    EXPECT_EQ(page.number("lastError"), 0);
    EXPECT_FALSE(page.flag("isPinInvalid"));
    EXPECT_FALSE(page.flag("isPinMissing"));
    EXPECT_EQ(page.text("pinModuleName"), "");
    EXPECT_EQ(page.number("pinRetryCount"), 0);

    // Cached for the process: the next signature needs no typing.
    EXPECT_FALSE(page.call("signPkcs1", {card, base64(hash)}).convert<std::string>().empty());
}

TEST_F(KorvaneAPIEngineTest, EmptyPinWriteClearsThePinsOfEveryInstance) {
    const std::string card = pki::id("card");
    const std::string hash = base64(sampleHash(20));
    Embedded first;
    Embedded second;

    first.call("signPkcs1", {card, hash});
    ASSERT_TRUE(first.flag("isPinMissing"));
    typePin(first, pki::value("TOKEN_PIN"));
    ASSERT_FALSE(first.call("signPkcs1", {card, hash}).convert<std::string>().empty());
    EXPECT_FALSE(second.call("signPkcs1", {card, hash}).convert<std::string>().empty())
        << "the PIN cache is shared by all instances";

    second.set("pin", "");
    EXPECT_EQ(second.text("pin"), "");
    EXPECT_EQ(first.call("signPkcs1", {card, hash}).convert<std::string>(), "");
    EXPECT_TRUE(first.flag("isPinMissing"));
    EXPECT_EQ(first.text("pinModuleName"), card);
}

// Tokens take the PIN as a C string: "1234\0999" would log in as 1234. It is refused as a wrong PIN.
TEST_F(KorvaneAPIEngineTest, PinWithEmbeddedNulIsRefusedAsWrong) {
    const std::string card = pki::id("card");
    const std::string hash = base64(sampleHash(20));
    Embedded page;
    EXPECT_EQ(page.call("signPkcs1", {card, hash}).convert<std::string>(), "");
    ASSERT_EQ(page.text("pinModuleName"), card);

    for (int attempt = 0; attempt < 2; ++attempt) {
        page.set("pin", pki::value("TOKEN_PIN") + std::string(1, '\0') + "999");
        EXPECT_EQ(page.call("signPkcs1", {card, hash}).convert<std::string>(), "");
        EXPECT_EQ(page.number("lastError"), 5);
        EXPECT_TRUE(page.flag("isPinInvalid"));
        EXPECT_EQ(page.number("pinRetryCount"), 1) << "the same refused PIN again counts once";
    }
    typePin(page, pki::value("TOKEN_PIN"));
    EXPECT_NE(page.call("signPkcs1", {card, hash}).convert<std::string>(), "");
    EXPECT_EQ(page.number("lastError"), 0);
}

}  // namespace
