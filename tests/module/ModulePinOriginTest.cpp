// PINs belong to the page's origin, read from window.location when an instance is made: a PIN typed on
// one site's page signs for that site's instances only. Through the loaded module, on the fixture's
// SoftHSM2 token.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ModuleFixture.h"
#include "PkiFixture.h"

using namespace moduletest;

namespace {

class ModulePinOriginTest : public ModuleFixture {
  protected:
    void SetUp() override {
        ASSERT_NO_THROW(PkiFixture::get())
            << "KORVANE_PKI_DIR is not set; run through ctest (fixture make_pki)";
        ModuleFixture::SetUp();
    }

    // The page moves to url, then embeds an instance there.
    PageValue embedAt(const std::string& url) {
        PageValue location = browser.newObject();
        EXPECT_TRUE(browser.setProperty(location.asObject(), "href", url));
        EXPECT_TRUE(browser.setProperty(browser.window(), "location", location));
        return browser.scriptableObject(embed());
    }

    std::string sign(const PageValue& api) {
        FakeBrowser::CallResult result =
            browser.invoke(api.asObject(), "signPkcs1", {PkiFixture::get().id("card"), kHash});
        EXPECT_TRUE(result.ok);
        return result.value.isString() ? result.value.asString() : std::string();
    }

    PageValue read(const PageValue& api, const std::string& name) {
        return browser.getProperty(api.asObject(), name).value;
    }

    // 32 bytes, as a SHA-256 hash.
    const std::string kHash = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";
};

TEST_F(ModulePinOriginTest, APinTypedOnOneSiteSignsNothingForAnother) {
    PageValue a = embedAt("https://a.example/sign?doc=1");
    PageValue b = embedAt("https://b.example/");
    // Typed on A, handed over when A signs: A asks the card first and learns it needs a PIN.
    ASSERT_EQ(sign(a), "");
    ASSERT_TRUE(read(a, "isPinMissing").asBool());
    for (char c : PkiFixture::get().value("TOKEN_PIN"))
        ASSERT_TRUE(browser.invoke(a.asObject(), "processPinChar", {std::string(1, c)}));
    ASSERT_NE(sign(a), "") << "A signs with its PIN";

    EXPECT_FALSE(read(b, "isPinMissing").asBool()) << "B has not asked yet and sees nothing of A";
    EXPECT_EQ(sign(b), "") << "B typed nothing: no signature with A's PIN";
    EXPECT_EQ(read(b, "lastError").asInt32(), 11);
    EXPECT_TRUE(read(b, "isPinMissing").asBool());
    EXPECT_EQ(read(b, "pinModuleName").asString(), PkiFixture::get().id("card"));

    // Another page of A's origin shares A's PIN, even after the window moved on; B's clearing leaves it.
    PageValue a2 = embedAt("https://A.example:443/other");
    EXPECT_TRUE(browser.setProperty(b.asObject(), "pin", ""));
    EXPECT_NE(sign(a2), "");
    EXPECT_NE(sign(a), "") << "the origin was read when A was made";
}

}  // namespace
