// The "CaSubjectNames" parameter travels from NPP_New through the loaded module to the engine's listing,
// and the identifiers the page gets back fetch and sign through it, against the platform's store that
// make-pki's certificates were put in (NSS on Linux, the Wine prefix's CryptoAPI stores on Windows).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ListingText.h"
#include "ModuleFixture.h"
#include "PkiFixture.h"
#include "signature/Base64.h"

using namespace moduletest;

namespace {

class ModuleListingTest : public ModuleFixture {
  protected:
    void SetUp() override {
        ASSERT_NO_THROW(PkiFixture::get())
            << "KORVANE_PKI_DIR is not set; run through ctest (fixture make_pki)";
        ModuleFixture::SetUp();
    }

    std::string call(const PageValue& api, const std::string& method,
                     const std::vector<PageValue>& args = {}) {
        FakeBrowser::CallResult result = browser.invoke(api.asObject(), method, args);
        EXPECT_TRUE(result.ok) << method;
        return result.value.isString() ? result.value.asString() : std::string();
    }
    std::string listing(NPP npp) {
        return call(browser.scriptableObject(npp), "getDigitalSignatureCertificates");
    }

    const PkiFixture& pki = PkiFixture::get();
};

TEST_F(ModuleListingTest, TheLaterOfRepeatedCaSubjectNamesFiltersTheListing) {
    const std::string root = pki.value("ROOT_NAME");
    const std::string good = pki.engineId("good");
    ASSERT_FALSE(root.empty());
    ASSERT_FALSE(good.empty());

    // The null value does not replace the name given before it.
    NPP listed = embed({{"CaSubjectNames", pki.value("UNRELATED_NAME")},
                        {"CaSubjectNames", root},
                        {"CaSubjectNames", std::nullopt}});
    EXPECT_THAT(listing(listed), ::testing::HasSubstr(good));

    NPP unlisted = embed({{"CaSubjectNames", root}, {"CaSubjectNames", pki.value("UNRELATED_NAME")}});
    EXPECT_THAT(listing(unlisted), ::testing::Not(::testing::HasSubstr(good)));
}

// Each identifier as the page got it, the accented issuer's letter blanked, fetches its certificate and
// signs with its key; openssl checks the signature against the certificate.
TEST_F(ModuleListingTest, ListedIdentifiersFetchAndSignAsThePageGotThem) {
    NPP npp = embed({{"CaSubjectNames", pki.value("ACCENTED_NAME") + "|" + pki.value("UNRELATED_NAME")}});
    PageValue api = browser.scriptableObject(npp);
    const std::vector<unsigned char> hash = contract::hashOf("module", 32);
    const std::string hashText = Base64::encode(hash.data(), hash.size());
    std::set<std::string> signers;
    for (const contract::Listed& entry : contract::parseListing(listing(npp))) {
        std::string certificate;
        for (const char* name : {"accentuser", "stranger"}) {
            if (entry.id == contract::blanked(pki.engineId(name))) {
                certificate = name;
            }
        }
        ASSERT_FALSE(certificate.empty()) << "unexpected identifier " << entry.id;
        EXPECT_EQ(call(api, "getCertificate", {entry.id}), pki.derBase64(certificate));
        const auto signature = Base64::decode(call(api, "signPkcs1", {entry.id, hashText}), 4096);
        ASSERT_TRUE(signature.has_value());
        EXPECT_TRUE(pki.verifies(certificate, "sha256", hash, *signature)) << certificate;
        std::vector<unsigned char> other = hash;
        other[0] ^= 1;
        EXPECT_FALSE(pki.verifies(certificate, "sha256", other, *signature)) << "the check can fail";
        signers.insert(certificate);
    }
    EXPECT_EQ(signers, (std::set<std::string>{"accentuser", "stranger"}));
    EXPECT_EQ(browser.getProperty(api.asObject(), "lastError").value, PageValue(0));
}

}  // namespace
