#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "PkiFixture.h"
#include "signature/platform/nss/DigitalSignatureUtilNSS.h"

namespace {

struct Listed {
    std::string issuer;
    std::string subject;
    std::string id;
};

std::vector<Listed> parseListing(const std::string& text) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (!text.empty()) {
        const std::size_t bar = text.find('|', start);
        fields.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) {
            break;
        }
        start = bar + 1;
    }
    EXPECT_EQ(fields.size() % 3, 0u) << text;
    std::vector<Listed> out;
    for (std::size_t i = 0; i + 2 < fields.size(); i += 3) {
        out.push_back({fields[i], fields[i + 1], fields[i + 2]});
    }
    return out;
}

// The fixture certificates a listing under the given filter yields, by name.
std::set<std::string> listedNames(const std::string& listing) {
    const PkiFixture& pki = PkiFixture::get();
    std::set<std::string> names;
    for (const Listed& entry : parseListing(listing)) {
        bool known = false;
        for (const char* name : {"good", "good3072", "auth", "noku", "nokey", "expired", "future", "stranger",
                                 "accentuser", "dashuser", "card"}) {
            if (pki.id(name) == entry.id) {
                names.insert(name);
                known = true;
            }
        }
        EXPECT_TRUE(known) << "unexpected identifier " << entry.id;
    }
    return names;
}

const std::set<std::string> kChainSigners = {"good", "good3072", "card"};

class ListingTest : public ::testing::Test {
  protected:
    const PkiFixture& pki = PkiFixture::get();
    DigitalSignatureUtilNSS engine;
};

class ClockedEngine : public DigitalSignatureUtilNSS {
  public:
    PRTime now = 0;

  protected:
    PRTime currentTime() const override { return now; }
};

}  // namespace

TEST_F(ListingTest, RootOnlyFilterFollowsBothIntermediatesAndAppliesEveryFilter) {
    const std::string listing = engine.getDigitalSignatureCertificates(pki.value("ROOT_NAME"));
    EXPECT_EQ(engine.getLastError(), 0);
    // Not listed: expired, not yet valid, digitalSignature without nonRepudiation, no key usage, no
    // private key, and the certificates of other authorities. The card's certificate is listed although
    // its token is not logged in.
    EXPECT_EQ(listedNames(listing), kChainSigners);

    for (const Listed& entry : parseListing(listing)) {
        EXPECT_EQ(entry.issuer, pki.value("INT2_NAME"));
        EXPECT_EQ(entry.id.substr(0, entry.issuer.size() + 1), entry.issuer + "-");
        if (entry.id == pki.id("good")) {
            EXPECT_EQ(entry.subject, pki.value("GOOD_SUBJECT"));
            // The serial's DER is 00 DE AD BE EF 01 23 45 67 89: the leading zero is kept, order reversed.
            EXPECT_EQ(entry.id, pki.value("INT2_NAME") + "-iWdFIwHvvq3eAA==");
        }
    }
}

TEST_F(ListingTest, ExpansionAddsEachIntermediateOnce) {
    const NameAttributesList list = engine.expandCaSubjectNames(pki.value("ROOT_NAME"));
    EXPECT_EQ(engine.getLastError(), 0);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_TRUE(DigitalSignatureUtil::namesEqual(
        list[0], DigitalSignatureUtil::parseDistinguishedName(pki.value("ROOT_NAME"))));
    EXPECT_TRUE(DigitalSignatureUtil::namesEqual(
        list[1], DigitalSignatureUtil::parseDistinguishedName(pki.value("INT1_NAME"))));
    EXPECT_TRUE(DigitalSignatureUtil::namesEqual(
        list[2], DigitalSignatureUtil::parseDistinguishedName(pki.value("INT2_NAME"))));
}

TEST_F(ListingTest, EmptyOrBlankFilterListsNothingWithoutError) {
    EXPECT_EQ(engine.getDigitalSignatureCertificates(""), "");
    EXPECT_EQ(engine.getLastError(), 0);
    EXPECT_EQ(engine.getDigitalSignatureCertificates("  |  "), "");
    EXPECT_EQ(engine.getLastError(), 0);
}

TEST_F(ListingTest, IssuerComparisonIgnoresCaseBlanksOrderAndStateLabel) {
    // Intermediate 2 rendered: C=ES, S=Madrid, O=..., OU=Unit One, OU=Signing Services, CN=...
    EXPECT_EQ(
        listedNames(engine.getDigitalSignatureCertificates(
            "CN=korvane  TEST intermediate 2, OU=Signing Services, o=BRINDLEMOOR pruebas, ST=Madrid, c=es")),
        kChainSigners);
    // The last of two OUs is the one compared.
    EXPECT_EQ(listedNames(engine.getDigitalSignatureCertificates(
                  "CN=Korvane Test Intermediate 2, OU=Unit One, O=Brindlemoor Pruebas, S=Madrid, C=ES")),
              std::set<std::string>{});
    // One attribute fewer or more does not match.
    EXPECT_EQ(engine.getDigitalSignatureCertificates(
                  "CN=Korvane Test Intermediate 2, OU=Signing Services, O=Brindlemoor Pruebas, S=Madrid"),
              "");
    EXPECT_EQ(engine.getDigitalSignatureCertificates("CN=Korvane Test Intermediate 2, OU=Signing Services, "
                                                     "O=Brindlemoor Pruebas, S=Madrid, C=ES, L=Madrid"),
              "");
    EXPECT_EQ(engine.getLastError(), 0);
}

TEST_F(ListingTest, SerialNumberAliasesNameTheSameAuthority) {
    for (const std::string label : {"SERIALNUMBER", "OID.2.5.4.5", "Identificador de objeto (2 5 4 5)",
                                    "N\xFAmero de serie", "N\xC3\xBAmero de serie"}) {
        const std::string filter =
            "CN=Korvane Test Intermediate 1, " + label + "=Q2826004J, O=Brindlemoor Pruebas, C=ES";
        EXPECT_EQ(listedNames(engine.getDigitalSignatureCertificates(filter)), kChainSigners) << label;
    }
}

TEST_F(ListingTest, OtherAuthoritiesAndSeveralFilters) {
    EXPECT_EQ(listedNames(engine.getDigitalSignatureCertificates(pki.value("UNRELATED_NAME"))),
              std::set<std::string>{"stranger"});
    EXPECT_EQ(listedNames(engine.getDigitalSignatureCertificates(pki.value("ROOT_NAME") + "|" +
                                                                 pki.value("UNRELATED_NAME") + "|")),
              (std::set<std::string>{"good", "good3072", "card", "stranger"}));

    const std::string accented = engine.getDigitalSignatureCertificates(pki.value("ACCENTED_NAME"));
    EXPECT_EQ(listedNames(accented), std::set<std::string>{"accentuser"});
    ASSERT_EQ(parseListing(accented).size(), 1u);
    EXPECT_EQ(parseListing(accented)[0].issuer,
              "C=ES, O=Brindlemoor Pruebas, CN=Autoridad de Certificaci\xC3\xB3n Pruebas");
}

TEST_F(ListingTest, DashedIssuerYieldsIdentifiersThatStillParse) {
    const std::vector<Listed> listed =
        parseListing(engine.getDigitalSignatureCertificates(pki.value("DASHED_NAME")));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].id, pki.id("dashuser"));
    EXPECT_EQ(engine.getCertificate(listed[0].id), pki.derBase64("dashuser"));
    EXPECT_EQ(engine.getLastError(), 0);
}

TEST(ListingValidity, BoundariesAreStrict) {
    const PkiFixture& pki = PkiFixture::get();
    const PRTime notBefore = std::stoll(pki.value("GOOD_NOT_BEFORE")) * PR_USEC_PER_SEC;
    const PRTime notAfter = std::stoll(pki.value("GOOD_NOT_AFTER")) * PR_USEC_PER_SEC;
    ClockedEngine engine;
    auto goodListedAt = [&](PRTime now) {
        engine.now = now;
        return listedNames(engine.getDigitalSignatureCertificates(pki.value("INT2_NAME"))).count("good") == 1;
    };
    EXPECT_FALSE(goodListedAt(notBefore));
    EXPECT_TRUE(goodListedAt(notBefore + 1));
    EXPECT_TRUE(goodListedAt(notAfter - 1));
    EXPECT_FALSE(goodListedAt(notAfter));
}

TEST_F(ListingTest, GetCertificateIgnoresTheListingFilters) {
    for (const char* name : {"good", "expired", "future", "auth", "noku", "card"}) {
        EXPECT_EQ(engine.getCertificate(pki.id(name)), pki.derBase64(name)) << name;
        EXPECT_EQ(engine.getLastError(), 0) << name;
        EXPECT_EQ(engine.getLastLowLevelError(), 0) << name;
    }
    // Not in "My": no private key anywhere, or an authority.
    EXPECT_EQ(engine.getCertificate(pki.id("nokey")), "");
    EXPECT_EQ(engine.getLastError(), 2);
    EXPECT_EQ(engine.getCertificate(pki.id("int2")), "");
    EXPECT_EQ(engine.getLastError(), 2);
}

TEST_F(ListingTest, IdentifierOfAnAccentedIssuerFoundInTheFormThePageReceives) {
    std::string blanked = pki.id("accentuser");
    for (char& c : blanked) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7F) {
            c = ' ';
        }
    }
    ASSERT_NE(blanked, pki.id("accentuser"));
    EXPECT_EQ(engine.getCertificate(pki.id("accentuser")), pki.derBase64("accentuser"));
    EXPECT_EQ(engine.getCertificate(blanked), pki.derBase64("accentuser"));
    EXPECT_EQ(engine.getLastError(), 0);
    // Blanks stand only for bytes the filter replaced: the wrong count of blanks matches nothing.
    std::string oneBlank = pki.id("accentuser");
    oneBlank.replace(oneBlank.find("\xC3\xB3"), 2, " ");
    EXPECT_EQ(engine.getCertificate(oneBlank), "");
    EXPECT_EQ(engine.getLastError(), 2);
}

TEST_F(ListingTest, IdentifierParsingFailures) {
    // No "-" at all.
    EXPECT_EQ(engine.getCertificate("CN=Nobody"), "");
    EXPECT_EQ(engine.getLastError(), 2);
    // The serial part after the last "-" is not Base64.
    EXPECT_EQ(engine.getCertificate(pki.value("DASHED_NAME") + "-not*base64"), "");
    EXPECT_EQ(engine.getLastError(), 3);
    EXPECT_NE(engine.getLastLowLevelError(), 0);
    EXPECT_NE(engine.getLastErrorMessage(), "");
    // Well formed, but no such serial.
    EXPECT_EQ(engine.getCertificate(pki.value("INT2_NAME") + "-AAEC"), "");
    EXPECT_EQ(engine.getLastError(), 2);
    // Right serial, issuer differing only in letter case.
    std::string id = pki.id("good");
    id[id.find("Madrid")] = 'm';
    EXPECT_EQ(engine.getCertificate(id), "");
    EXPECT_EQ(engine.getLastError(), 2);
}

TEST_F(ListingTest, SuccessfulListingKeepsTheLowLevelErrorOfAnEarlierFailure) {
    EXPECT_EQ(engine.getCertificate(pki.value("INT2_NAME") + "-%%%"), "");
    ASSERT_EQ(engine.getLastError(), 3);
    const auto lowLevel = engine.getLastLowLevelError();
    const std::string message = engine.getLastErrorMessage();
    ASSERT_NE(lowLevel, 0);

    EXPECT_FALSE(engine.getDigitalSignatureCertificates(pki.value("ROOT_NAME")).empty());
    EXPECT_EQ(engine.getLastError(), 0);
    EXPECT_EQ(engine.getLastLowLevelError(), lowLevel);
    EXPECT_EQ(engine.getLastErrorMessage(), message);
}

TEST(ListingDatabase, MissingDatabaseListsNothingWithoutError) {
    TempDir home;
    ScopedEnv env("HOME", home.path());
    DigitalSignatureUtilNSS engine;
    EXPECT_EQ(engine.getDigitalSignatureCertificates(PkiFixture::get().value("ROOT_NAME")), "");
    EXPECT_EQ(engine.getLastError(), 0);
    EXPECT_EQ(engine.getCertificate(PkiFixture::get().id("good")), "");
    EXPECT_EQ(engine.getLastError(), 2);
}

TEST(ListingDatabase, UnreadableDatabaseIsAStoreThatCannotBeOpened) {
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
