#pragma once

// What every engine must do with the make-pki certificates, written once and instantiated per platform.
// A delegate type tells the suite how to make its engine and how the engine names the fixture:
//   static std::unique_ptr<DigitalSignatureUtil> make();
//   static std::unique_ptr<DigitalSignatureUtil> makeAt(std::int64_t unixSeconds);  // fixed clock
//   static std::string name(const std::string& key);   // a fixture.env authority name, engine text
//   static std::string id(const std::string& certificate);  // the identifier the engine gives
//   static void checkSignature(const std::string& certificate, const std::string& algorithm,
//                              const Bytes& hash, const Bytes& signature);
//   static constexpr bool kTextForEveryError;  // the platform has a message for every low-level error

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ListingText.h"
#include "PkiFixture.h"
#include "signature/Base64.h"
#include "signature/DigitalSignatureUtil.h"
#include "signature/PinCache.h"

namespace contract {

inline const char* const kCertificates[] = {"good",       "good3072", "auth",   "noku",
                                            "nokey",      "expired",  "future", "stranger",
                                            "accentuser", "dashuser", "card",   "pipeuser"};
inline const std::set<std::string> kChainSigners = {"good", "good3072", "card"};

template <typename Delegate>
class EngineContract : public ::testing::Test {
  protected:
    void SetUp() override { PinCache::clearEveryOrigin(); }
    void TearDown() override { PinCache::clearEveryOrigin(); }

    // The fixture certificates a listing yields, by name.
    std::set<std::string> listedNames(const std::string& listing) {
        std::set<std::string> names;
        for (const Listed& entry : parseListing(listing)) {
            bool known = false;
            for (const char* name : kCertificates) {
                if (Delegate::id(name) == entry.id) {
                    names.insert(name);
                    known = true;
                }
            }
            EXPECT_TRUE(known) << "unexpected identifier " << entry.id;
        }
        return names;
    }
    std::set<std::string> listedUnder(const std::string& filter) {
        return listedNames(engine->getDigitalSignatureCertificates(filter));
    }
    std::string sign(const std::string& id, const Bytes& hash) {
        return engine->signPkcs1(id, Base64::encode(hash));
    }
    std::string name(const std::string& key) { return Delegate::name(key); }
    std::string id(const std::string& certificate) { return Delegate::id(certificate); }

    const PkiFixture& pki = PkiFixture::get();
    std::unique_ptr<DigitalSignatureUtil> engine = Delegate::make();
};

TYPED_TEST_SUITE_P(EngineContract);

TYPED_TEST_P(EngineContract, RootOnlyFilterFollowsTheChainAndAppliesEveryFilter) {
    const std::string listing = this->engine->getDigitalSignatureCertificates(this->pki.value("ROOT_NAME"));
    EXPECT_EQ(this->engine->getLastError(), 0);
    // Not listed: expired, not yet valid, digitalSignature without nonRepudiation, no key usage, no
    // private key, and the certificates of other authorities. The card's certificate is listed.
    EXPECT_EQ(this->listedNames(listing), kChainSigners);
    for (const Listed& entry : parseListing(listing)) {
        EXPECT_EQ(entry.issuer, this->name("INT2_NAME"));
        EXPECT_EQ(entry.id.substr(0, entry.issuer.size() + 1), entry.issuer + "-");
        if (entry.id == this->id("good")) {
            EXPECT_EQ(entry.subject, this->pki.value("GOOD_SUBJECT"));
            // The serial's DER is 00 DE AD BE EF 01 23 45 67 89: the leading zero is kept, order reversed.
            EXPECT_EQ(entry.id, this->name("INT2_NAME") + "-iWdFIwHvvq3eAA==");
        }
    }
}

TYPED_TEST_P(EngineContract, ExpansionAddsEachIntermediateOnce) {
    const NameAttributesList list = this->engine->expandCaSubjectNames(this->pki.value("ROOT_NAME"));
    EXPECT_EQ(this->engine->getLastError(), 0);
    ASSERT_EQ(list.size(), 3u);
    const char* const expected[] = {"ROOT_NAME", "INT1_NAME", "INT2_NAME"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(DigitalSignatureUtil::namesEqual(
            list[i], DigitalSignatureUtil::parseDistinguishedName(this->pki.value(expected[i]))))
            << expected[i];
    }
}

TYPED_TEST_P(EngineContract, FilterMatchingIgnoresCaseBlanksOrderAndAliases) {
    EXPECT_EQ(this->listedUnder(""), std::set<std::string>{});
    EXPECT_EQ(this->listedUnder("  |  "), std::set<std::string>{});
    EXPECT_EQ(this->engine->getLastError(), 0);
    // Intermediate 2 is C=ES, S=Madrid, O=..., OU=Unit One, OU=Signing Services, CN=...
    EXPECT_EQ(
        this->listedUnder(
            "CN=korvane  TEST intermediate 2, OU=Signing Services, o=BRINDLEMOOR pruebas, ST=Madrid, c=es"),
        kChainSigners);
    // The last of two OUs is the one compared; one attribute fewer or more does not match.
    EXPECT_EQ(this->listedUnder(
                  "CN=Korvane Test Intermediate 2, OU=Unit One, O=Brindlemoor Pruebas, S=Madrid, C=ES"),
              std::set<std::string>{});
    EXPECT_EQ(this->listedUnder(
                  "CN=Korvane Test Intermediate 2, OU=Signing Services, O=Brindlemoor Pruebas, S=Madrid"),
              std::set<std::string>{});
    EXPECT_EQ(this->listedUnder("CN=Korvane Test Intermediate 2, OU=Signing Services, O=Brindlemoor Pruebas, "
                                "S=Madrid, C=ES, L=Madrid"),
              std::set<std::string>{});
    for (const std::string label : {"SERIALNUMBER", "OID.2.5.4.5", "Identificador de objeto (2 5 4 5)",
                                    "N\xFAmero de serie", "N\xC3\xBAmero de serie"}) {
        EXPECT_EQ(this->listedUnder("CN=Korvane Test Intermediate 1, " + label +
                                    "=Q2826004J, O=Brindlemoor Pruebas, C=ES"),
                  kChainSigners)
            << label;
    }
    EXPECT_EQ(this->engine->getLastError(), 0);
}

TYPED_TEST_P(EngineContract, OtherAuthoritiesSeveralFiltersAndAnAccentedIssuer) {
    EXPECT_EQ(this->listedUnder(this->pki.value("UNRELATED_NAME")), std::set<std::string>{"stranger"});
    EXPECT_EQ(this->listedUnder(this->pki.value("ROOT_NAME") + "|" + this->pki.value("UNRELATED_NAME") + "|"),
              (std::set<std::string>{"good", "good3072", "card", "stranger"}));
    // The page's parameter is UTF-8 whatever the engine's own text is.
    const std::string accented =
        this->engine->getDigitalSignatureCertificates(this->pki.value("ACCENTED_NAME"));
    EXPECT_EQ(this->listedNames(accented), std::set<std::string>{"accentuser"});
    ASSERT_EQ(parseListing(accented).size(), 1u);
    EXPECT_EQ(parseListing(accented)[0].issuer, this->name("ACCENTED_NAME"));
}

TYPED_TEST_P(EngineContract, DashedIssuerYieldsIdentifiersThatStillParse) {
    const std::vector<Listed> listed =
        parseListing(this->engine->getDigitalSignatureCertificates(this->pki.value("DASHED_NAME")));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].id, this->id("dashuser"));
    EXPECT_EQ(this->engine->getCertificate(listed[0].id), this->pki.derBase64("dashuser"));
    EXPECT_EQ(this->engine->getLastError(), 0);
}

// The listing joins its fields with "|": one inside a name becomes a blank, in the identifier too, and
// that identifier, or the one in the name's own form, still finds the certificate.
TYPED_TEST_P(EngineContract, BarInsideANameIsBlankedAndItsIdentifierStillWorks) {
    const std::string listing = this->engine->getDigitalSignatureCertificates(this->name("PIPE_ROOT_NAME"));
    const std::vector<Listed> listed = parseListing(listing);
    ASSERT_EQ(listed.size(), 1u) << listing;
    EXPECT_EQ(listed[0].issuer, DigitalSignatureUtil::listingField(this->name("PIPE_CA_NAME")));
    EXPECT_EQ(listed[0].subject, "C=ES, O=Pipe Works, CN=Pipe Signer");
    EXPECT_EQ(listed[0].id, this->id("pipeuser"));
    EXPECT_EQ(this->engine->getCertificate(listed[0].id), this->pki.derBase64("pipeuser"));
    EXPECT_EQ(this->engine->getLastError(), 0);
    const std::string serial = listed[0].id.substr(listed[0].id.rfind('-'));
    EXPECT_EQ(TypeParam::make()->getCertificate(this->name("PIPE_CA_NAME") + serial),
              this->pki.derBase64("pipeuser"));
}

TYPED_TEST_P(EngineContract, ValidityBoundariesAreStrict) {
    const std::int64_t notBefore = std::stoll(this->pki.value("GOOD_NOT_BEFORE"));
    const std::int64_t notAfter = std::stoll(this->pki.value("GOOD_NOT_AFTER"));
    auto goodListedAt = [&](std::int64_t now) {
        auto engine = TypeParam::makeAt(now);
        return this->listedNames(engine->getDigitalSignatureCertificates(this->name("INT2_NAME")))
                   .count("good") == 1;
    };
    EXPECT_FALSE(goodListedAt(notBefore));
    EXPECT_TRUE(goodListedAt(notBefore + 1));
    EXPECT_TRUE(goodListedAt(notAfter - 1));
    EXPECT_FALSE(goodListedAt(notAfter));
}

TYPED_TEST_P(EngineContract, GetCertificateIgnoresTheListingFilters) {
    for (const char* name : {"good", "expired", "future", "auth", "noku", "card"}) {
        EXPECT_EQ(this->engine->getCertificate(this->id(name)), this->pki.derBase64(name)) << name;
        EXPECT_EQ(this->engine->getLastError(), 0) << name;
        EXPECT_EQ(this->engine->getLastLowLevelError(), 0) << name;
    }
    // An authority is not in "My".
    EXPECT_EQ(this->engine->getCertificate(this->id("int2")), "");
    EXPECT_EQ(this->engine->getLastError(), 2);
}

TYPED_TEST_P(EngineContract, BlankedIdentifierThePageReceivesFindsAndSigns) {
    const std::string id = this->id("accentuser");
    const std::string pageForm = blanked(id);
    ASSERT_NE(pageForm, id);
    EXPECT_EQ(this->engine->getCertificate(id), this->pki.derBase64("accentuser"));
    EXPECT_EQ(this->engine->getCertificate(pageForm), this->pki.derBase64("accentuser"));
    EXPECT_EQ(this->engine->getLastError(), 0);
    // Blanks stand only for bytes the page's filter replaced: one blank more matches nothing.
    std::string wider = pageForm;
    wider.insert(pageForm.find("Certificaci") + 11, " ");
    EXPECT_EQ(this->engine->getCertificate(wider), "");
    EXPECT_EQ(this->engine->getLastError(), 2);

    const Bytes hash = hashOf("signed through the page's identifier", 32);
    const auto octets = Base64::decode(this->sign(pageForm, hash), 4096);
    ASSERT_TRUE(octets) << this->engine->getLastError();
    TypeParam::checkSignature("accentuser", "sha256", hash, *octets);
}

TYPED_TEST_P(EngineContract, IdentifierParsingFailures) {
    EXPECT_EQ(this->engine->getCertificate("CN=Nobody"), "");  // no "-"
    EXPECT_EQ(this->engine->getLastError(), 2);
    EXPECT_EQ(this->engine->getCertificate(this->pki.value("DASHED_NAME") + "-not*base64"), "");
    EXPECT_EQ(this->engine->getLastError(), 3);
    EXPECT_NE(this->engine->getLastLowLevelError(), 0);
    EXPECT_EQ(this->engine->getCertificate(this->name("INT2_NAME") + "-AAEC"), "");  // no such serial
    EXPECT_EQ(this->engine->getLastError(), 2);
    std::string id = this->id("good");  // right serial, issuer differing only in letter case
    id[id.find("Madrid")] = 'm';
    EXPECT_EQ(this->engine->getCertificate(id), "");
    EXPECT_EQ(this->engine->getLastError(), 2);
}

TYPED_TEST_P(EngineContract, SuccessfulListingKeepsTheLowLevelErrorOfAnEarlierFailure) {
    EXPECT_EQ(this->engine->getCertificate(this->name("INT2_NAME") + "-%%%"), "");
    ASSERT_EQ(this->engine->getLastError(), 3);
    const auto lowLevel = this->engine->getLastLowLevelError();
    const std::string message = this->engine->getLastErrorMessage();
    ASSERT_NE(lowLevel, 0);
    EXPECT_FALSE(this->engine->getDigitalSignatureCertificates(this->pki.value("ROOT_NAME")).empty());
    EXPECT_EQ(this->engine->getLastError(), 0);
    EXPECT_EQ(this->engine->getLastLowLevelError(), lowLevel);
    EXPECT_EQ(this->engine->getLastErrorMessage(), message);
}

TYPED_TEST_P(EngineContract, SoftwareKeysSignEveryHashLength) {
    struct Case {
        const char* certificate;
        std::size_t modulusOctets;
    };
    struct Algorithm {
        const char* name;
        std::size_t octets;
    };
    for (const Case& c : {Case{"good", 256}, Case{"good3072", 384}}) {
        for (const Algorithm& a : {Algorithm{"md5", 16}, Algorithm{"sha1", 20}, Algorithm{"sha256", 32},
                                   Algorithm{"sha384", 48}, Algorithm{"sha512", 64}}) {
            const Bytes hash = hashOf(std::string("contract for ") + c.certificate + a.name, a.octets);
            const std::string signature = this->sign(this->id(c.certificate), hash);
            ASSERT_EQ(this->engine->getLastError(), 0)
                << c.certificate << " " << a.name << " " << this->engine->getLastLowLevelError();
            EXPECT_EQ(signature.size(), (c.modulusOctets + 2) / 3 * 4);
            const auto octets = Base64::decode(signature, 4096);
            ASSERT_TRUE(octets);
            EXPECT_EQ(octets->size(), c.modulusOctets);
            TypeParam::checkSignature(c.certificate, a.name, hash, *octets);
        }
    }
    // Validity and issuer are not checked again when signing.
    const Bytes late = hashOf("late document", 32);
    const auto octets = Base64::decode(this->sign(this->id("expired"), late), 4096);
    ASSERT_TRUE(octets) << this->engine->getLastError();
    TypeParam::checkSignature("expired", "sha256", late, *octets);
    EXPECT_TRUE(PinCache::forOrigin("").empty());
}

TYPED_TEST_P(EngineContract, BadInputGivesItsCodeAndCachesNothing) {
    const std::string hash = Base64::encode(Bytes(32, 7));
    struct Case {
        std::string id;
        std::string data;
        int code;
    };
    std::vector<Case> cases = {
        {this->id("card"), "not base64 at all!", 3},
        {this->id("card"), Base64::encode(Bytes(257, 1)), 3},
        {this->id("card"), "", 3},
        {"CN=No Dash Here", hash, 12},
        {this->name("INT2_NAME") + "-%%%", hash, 3},
        {this->name("INT2_NAME") + "-AAEC", hash, 2},
        {this->name("INT2_NAME") + "-", hash, 3},
    };
    // A length no digest algorithm has is refused before the card's key is touched (which would ask for
    // its PIN): a short hash is not padded, a long one not cut.
    for (std::size_t length : {1, 15, 17, 24, 33, 47, 63, 65, 256}) {
        cases.push_back({this->id("card"), Base64::encode(Bytes(length, 9)), 3});
    }
    for (const Case& c : cases) {
        EXPECT_EQ(this->engine->signPkcs1(c.id, c.data), "") << c.id;
        EXPECT_EQ(this->engine->getLastError(), c.code) << c.id << " " << c.data.size();
        EXPECT_NE(this->engine->getLastLowLevelError(), 0) << c.id;
        if (TypeParam::kTextForEveryError) {
            EXPECT_NE(this->engine->getLastErrorMessage(), "") << c.id;
        }
        EXPECT_TRUE(PinCache::forOrigin("").empty()) << c.id;
    }
}

REGISTER_TYPED_TEST_SUITE_P(EngineContract, RootOnlyFilterFollowsTheChainAndAppliesEveryFilter,
                            ExpansionAddsEachIntermediateOnce, FilterMatchingIgnoresCaseBlanksOrderAndAliases,
                            OtherAuthoritiesSeveralFiltersAndAnAccentedIssuer,
                            DashedIssuerYieldsIdentifiersThatStillParse,
                            BarInsideANameIsBlankedAndItsIdentifierStillWorks, ValidityBoundariesAreStrict,
                            GetCertificateIgnoresTheListingFilters,
                            BlankedIdentifierThePageReceivesFindsAndSigns, IdentifierParsingFailures,
                            SuccessfulListingKeepsTheLowLevelErrorOfAnEarlierFailure,
                            SoftwareKeysSignEveryHashLength, BadInputGivesItsCodeAndCachesNothing);

}  // namespace contract
