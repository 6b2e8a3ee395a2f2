// The "CaSubjectNames" parameter travels from NPP_New through the loaded module to the engine's listing,
// against the store and token that tests/fixtures/make-pki builds.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "ModuleFixture.h"
#include "PkiFixture.h"

using namespace moduletest;

namespace {

class ModuleListingTest : public ModuleFixture {
  protected:
    void SetUp() override {
        ASSERT_NO_THROW(PkiFixture::get())
            << "KORVANE_PKI_DIR is not set; run through ctest (fixture make_pki)";
        ModuleFixture::SetUp();
    }

    std::string listing(NPP npp) {
        PageValue api = browser.scriptableObject(npp);
        FakeBrowser::CallResult result = browser.invoke(api.asObject(), "getDigitalSignatureCertificates");
        EXPECT_TRUE(result.ok);
        return result.value.isString() ? result.value.asString() : std::string();
    }
};

TEST_F(ModuleListingTest, TheLaterOfRepeatedCaSubjectNamesFiltersTheListing) {
    const std::string root = PkiFixture::get().value("ROOT_NAME");
    const std::string good = PkiFixture::get().id("good");
    ASSERT_FALSE(root.empty());
    ASSERT_FALSE(good.empty());

    // The null value does not replace the name given before it.
    NPP listed = embed({{"CaSubjectNames", PkiFixture::get().value("UNRELATED_NAME")},
                        {"CaSubjectNames", root},
                        {"CaSubjectNames", std::nullopt}});
    EXPECT_THAT(listing(listed), ::testing::HasSubstr(good));

    NPP unlisted =
        embed({{"CaSubjectNames", root}, {"CaSubjectNames", PkiFixture::get().value("UNRELATED_NAME")}});
    EXPECT_THAT(listing(unlisted), ::testing::Not(::testing::HasSubstr(good)));
}

}  // namespace
