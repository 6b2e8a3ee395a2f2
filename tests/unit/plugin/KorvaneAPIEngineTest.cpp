// The signing API object as a page reaches it, against the platform's real engine and the fixture's
// store: NSS with its SoftHSM2 token on Linux, the CryptoAPI stores of the Wine prefix on Windows.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ListingText.h"
#include "PluginPki.h"
#include "signature/DigitalSignatureUtil.h"

using namespace plugintest;
using contract::blanked;
using contract::Listed;
using pki::base64;
using pki::sampleHash;

namespace {

bool listed(const std::vector<Listed>& certificates, const std::string& id) {
    return std::any_of(certificates.begin(), certificates.end(), [&](const Listed& c) { return c.id == id; });
}

TEST_F(KorvaneAPIEngineTest, ListingFollowsTheCaSubjectNamesParameter) {
    Embedded page(FB::VariantMap{{"CaSubjectNames", pki::value("ROOT_NAME")}});
    const std::string listing = page.call("getDigitalSignatureCertificates").convert<std::string>();
    EXPECT_EQ(page.number("lastError"), 0);
    const auto certificates = contract::parseListing(listing);
    EXPECT_TRUE(listed(certificates, pki::id("good")));
    EXPECT_TRUE(listed(certificates, pki::id("good3072")));
    EXPECT_TRUE(listed(certificates, pki::id("card"))) << "the card's certificate, listed without a PIN";
    for (const char* absent : {"stranger", "accentuser", "auth", "noku", "nokey", "expired", "future"})
        EXPECT_FALSE(listed(certificates, pki::id(absent))) << absent;
    EXPECT_FALSE(page.flag("isPinMissing")) << "listing asks for no PIN";

    // Two authorities, as a page lists them.
    Embedded two(
        FB::VariantMap{{"CaSubjectNames", pki::value("ROOT_NAME") + "|" + pki::value("UNRELATED_NAME")}});
    const auto both =
        contract::parseListing(two.call("getDigitalSignatureCertificates").convert<std::string>());
    EXPECT_TRUE(listed(both, pki::id("good")));
    EXPECT_TRUE(listed(both, pki::id("stranger")));

    Embedded none;
    EXPECT_EQ(none.call("getDigitalSignatureCertificates").convert<std::string>(), "");
}

TEST_F(KorvaneAPIEngineTest, AccentedIssuerIsBlankedAndItsIdentifierStillWorks) {
    const std::string accented = pki::value("ACCENTED_NAME");
    Embedded page(FB::VariantMap{{"CaSubjectNames", accented}});
    const std::string listing = page.call("getDigitalSignatureCertificates").convert<std::string>();

    const auto engine = DigitalSignatureUtil::create();
    const std::string raw = engine->getDigitalSignatureCertificates(accented);
    ASSERT_NE(raw, listing) << "the engine's text holds the accented letter";
    EXPECT_EQ(listing.size(), raw.size());
    EXPECT_EQ(listing, blanked(raw));
    EXPECT_TRUE(std::all_of(listing.begin(), listing.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) <= 0x7F;
    }));

    const auto certificates = contract::parseListing(listing);
    ASSERT_EQ(certificates.size(), 1u);
    const Listed& user = certificates[0];
    EXPECT_EQ(user.issuer, blanked(pki::name("ACCENTED_NAME")));
    EXPECT_EQ(user.id, blanked(pki::id("accentuser")));
    EXPECT_NE(user.id, pki::id("accentuser"));

    // The blanked identifier, handed back as the page got it.
    EXPECT_EQ(page.call("getCertificate", {user.id}).convert<std::string>(), pki::derBase64("accentuser"));
    EXPECT_EQ(page.number("lastError"), 0);
    const auto hash = sampleHash(32);
    const std::string signature = page.call("signPkcs1", {user.id, base64(hash)}).convert<std::string>();
    EXPECT_EQ(page.number("lastError"), 0);
    EXPECT_TRUE(pki::verifies("accentuser", "sha256", hash, signature));
}

TEST_F(KorvaneAPIEngineTest, SoftwareKeySignsEveryHashLength) {
    Embedded page;
    EXPECT_EQ(page.call("getCertificate", {pki::id("good")}).convert<std::string>(), pki::derBase64("good"));
    for (auto [size, digest] :
         {std::pair<std::size_t, const char*>{16, "md5"}, {20, "sha1"}, {32, "sha256"}}) {
        const auto hash = sampleHash(size);
        const std::string signature =
            page.call("signPkcs1", {pki::id("good"), base64(hash)}).convert<std::string>();
        EXPECT_TRUE(pki::verifies("good", digest, hash, signature)) << digest;
        EXPECT_EQ(page.number("lastError"), 0);
        EXPECT_FALSE(page.flag("isPinMissing"));
    }
}

TEST_F(KorvaneAPIEngineTest, ErrorPropertiesAfterEachCall) {
    Embedded page;
    EXPECT_EQ(page.call("getCertificate", {pki::value("ROOT_NAME") + "-AAAA"}).convert<std::string>(), "");
    EXPECT_EQ(page.number("lastError"), 2);

    EXPECT_EQ(page.call("signPkcs1", {pki::id("good"), "not*base64"}).convert<std::string>(), "");
    EXPECT_EQ(page.number("lastError"), 3);
    // The engine's platform error reaches the page unchanged (NSS's are negative numbers).
    const auto engine = DigitalSignatureUtil::create();
    engine->signPkcs1(pki::id("good"), "not*base64");
    EXPECT_NE(engine->getLastLowLevelError(), 0);
    EXPECT_EQ(page.number("lastLowLevelError"), engine->getLastLowLevelError());
    EXPECT_EQ(page.text("lastErrorMessage"), engine->getLastErrorMessage());
    EXPECT_FALSE(page.text("lastErrorMessage").empty());
    const long lowLevel = page.number("lastLowLevelError");

    page.call("processPinChar", {"1"});
    EXPECT_EQ(page.number("lastLowLevelError"), lowLevel) << "only engine calls change the error";

    EXPECT_FALSE(page.call("getCertificate", {pki::id("good")}).convert<std::string>().empty());
    EXPECT_EQ(page.number("lastError"), 0);
    EXPECT_EQ(page.number("lastLowLevelError"), 0);
}

}  // namespace
