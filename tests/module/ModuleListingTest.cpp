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

using namespace moduletest;

namespace {

std::string pkiDir() {
    const char* dir = std::getenv("KORVANE_PKI_DIR");
    return dir != nullptr ? dir : "";
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string fixtureValue(const std::string& key) {
    std::istringstream lines(readFile(pkiDir() + "/fixture.env"));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(key + "=", 0) == 0) {
            return line.substr(key.size() + 1);
        }
    }
    return {};
}

std::string certificateId(const std::string& name) {
    return readFile(pkiDir() + "/certs/" + name + ".id");
}

// The engine opens sql:$HOME/.pki/nssdb and the token of $SOFTHSM2_CONF: point both at the fixture
// before anything in the module starts NSS.
class FixtureHome : public ::testing::Environment {
  public:
    void SetUp() override {
        if (!pkiDir().empty()) {
            setenv("HOME", (pkiDir() + "/home").c_str(), 1);
            setenv("SOFTHSM2_CONF", (pkiDir() + "/softhsm2.conf").c_str(), 1);
        }
    }
};
[[maybe_unused]] ::testing::Environment* const fixtureHome =
    ::testing::AddGlobalTestEnvironment(new FixtureHome);

class ModuleListingTest : public ModuleFixture {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pkiDir().empty()) << "KORVANE_PKI_DIR is not set; run through ctest (fixture make_pki)";
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
    const std::string root = fixtureValue("ROOT_NAME");
    const std::string good = certificateId("good");
    ASSERT_FALSE(root.empty());
    ASSERT_FALSE(good.empty());

    // The null value does not replace the name given before it.
    NPP listed = embed({{"CaSubjectNames", fixtureValue("UNRELATED_NAME")},
                        {"CaSubjectNames", root},
                        {"CaSubjectNames", std::nullopt}});
    EXPECT_THAT(listing(listed), ::testing::HasSubstr(good));

    NPP unlisted = embed({{"CaSubjectNames", root}, {"CaSubjectNames", fixtureValue("UNRELATED_NAME")}});
    EXPECT_THAT(listing(unlisted), ::testing::Not(::testing::HasSubstr(good)));
}

}  // namespace
