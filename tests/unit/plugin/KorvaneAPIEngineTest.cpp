// The signing API object as a page reaches it, against the real engine, the fixture's NSS database and
// its SoftHSM2 token.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "PluginPki.h"
#include "PluginTestSupport.h"
#include "signature/Base64.h"
#include "signature/DigitalSignatureUtil.h"

using namespace plugintest;

namespace {

struct Certificate {
    std::string issuer;
    std::string subject;
    std::string id;
};

std::vector<Certificate> parseListing(const std::string& listing) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (!listing.empty()) {
        const auto bar = listing.find('|', start);
        fields.push_back(listing.substr(start, bar - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    EXPECT_EQ(fields.size() % 3, 0u) << listing;
    std::vector<Certificate> out;
    for (std::size_t i = 0; i + 2 < fields.size(); i += 3)
        out.push_back({fields[i], fields[i + 1], fields[i + 2]});
    return out;
}

bool listed(const std::vector<Certificate>& certificates, const std::string& id) {
    return std::any_of(certificates.begin(), certificates.end(),
                       [&](const Certificate& c) { return c.id == id; });
}

std::string blanked(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            c = ' ';
    }
    return text;
}

std::vector<unsigned char> sampleHash(std::size_t size) {
    std::vector<unsigned char> hash(size);
    for (std::size_t i = 0; i < size; ++i)
        hash[i] = static_cast<unsigned char>(i * 7 + 3);
    return hash;
}

std::string base64(const std::vector<unsigned char>& octets) {
    return Base64::encode(octets.data(), octets.size());
}

class KorvaneAPIEngineTest : public ::testing::Test {
  protected:
    // Every test starts with an empty process-wide PIN cache, as a page would get it with pin = "".
    void SetUp() override { Embedded().set("pin", ""); }

    static void typePin(Embedded& page, const std::string& pin) {
        for (char c : pin)
            page.call("processPinChar", {std::string(1, c)});
    }
};

TEST_F(KorvaneAPIEngineTest, ListingFollowsTheCaSubjectNamesParameter) {
    Embedded page(FB::VariantMap{{"CaSubjectNames", pki::value("ROOT_NAME")}});
    const std::string listing = page.call("getDigitalSignatureCertificates").convert<std::string>();
    EXPECT_EQ(page.number("lastError"), 0);
    const auto certificates = parseListing(listing);
    EXPECT_TRUE(listed(certificates, pki::id("good")));
    EXPECT_TRUE(listed(certificates, pki::id("good3072")));
    EXPECT_TRUE(listed(certificates, pki::id("card"))) << "the token's certificate, listed without a PIN";
    for (const char* absent : {"stranger", "accentuser", "auth", "noku", "nokey", "expired", "future"})
        EXPECT_FALSE(listed(certificates, pki::id(absent))) << absent;
    EXPECT_FALSE(page.flag("isPinMissing")) << "listing asks for no PIN";

    // Two authorities, as a page lists them.
    Embedded two(
        FB::VariantMap{{"CaSubjectNames", pki::value("ROOT_NAME") + "|" + pki::value("UNRELATED_NAME")}});
    const auto both = parseListing(two.call("getDigitalSignatureCertificates").convert<std::string>());
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

    const auto certificates = parseListing(listing);
    ASSERT_EQ(certificates.size(), 1u);
    const Certificate& user = certificates[0];
    EXPECT_EQ(user.issuer, blanked(accented));
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
    EXPECT_LT(page.number("lastLowLevelError"), 0) << "NSS error codes reach the page as negative numbers";
    EXPECT_FALSE(page.text("lastErrorMessage").empty());
    const long lowLevel = page.number("lastLowLevelError");

    page.call("processPinChar", {"1"});
    EXPECT_EQ(page.number("lastLowLevelError"), lowLevel) << "only engine calls change the error";

    EXPECT_FALSE(page.call("getCertificate", {pki::id("good")}).convert<std::string>().empty());
    EXPECT_EQ(page.number("lastError"), 0);
    EXPECT_EQ(page.number("lastLowLevelError"), 0);
}

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

}  // namespace

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
