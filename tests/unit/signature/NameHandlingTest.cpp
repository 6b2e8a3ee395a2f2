#include <gtest/gtest.h>

#include "signature/Base64.h"
#include "signature/DigitalSignatureUtil.h"

using DSU = DigitalSignatureUtil;

TEST(NormalizeText, LowercasesAsciiAndCollapsesBlanksOnly) {
    EXPECT_EQ(DSU::normalizeText("   Korvane   Test  CA  "), "korvane test ca");
    // Tabs and line breaks are not blanks; bytes above 0x7F are not letters.
    EXPECT_EQ(DSU::normalizeText("A\tB\nC"), "a\tb\nc");
    EXPECT_EQ(DSU::normalizeText("\xC3\x93N \xD3"), "\xC3\x93n \xD3");
    EXPECT_EQ(DSU::normalizeText("    "), "");
    EXPECT_EQ(DSU::normalizeText(""), "");
}

TEST(ParseDistinguishedName, SplitsAtCommaAndEqualsWithoutQuoting) {
    NameAttributes expected{{"cn", "korvane test ca"}, {"o", "brindlemoor"}, {"c", "es"}};
    EXPECT_EQ(DSU::parseDistinguishedName("CN=Korvane  Test CA, O=Brindlemoor, C=ES"), expected);

    // A quoted comma splits like any other: the piece after it replaces the value of the same key.
    NameAttributes quoted = DSU::parseDistinguishedName("CN=\"Doe, John\", O=X");
    EXPECT_EQ(quoted.at("cn"), "john\"");
    EXPECT_EQ(quoted.at("o"), "x");
    // The piece before any "=" lands under the empty key.
    EXPECT_EQ(DSU::parseDistinguishedName("lonely, CN=a").at(""), "lonely");

    // A second "=" makes the text between the two the new key; an empty value is still stored.
    NameAttributes twice = DSU::parseDistinguishedName("CN=a=b, O=");
    EXPECT_EQ(twice.at("a"), "b");
    EXPECT_EQ(twice.at("o"), "");
    EXPECT_EQ(twice.count("cn"), 0u);
}

TEST(ParseDistinguishedName, RepeatedKeyKeepsTheLastValue) {
    NameAttributes name = DSU::parseDistinguishedName("OU=Unit One, OU=Signing Services, CN=X");
    EXPECT_EQ(name.size(), 2u);
    EXPECT_EQ(name.at("ou"), "signing services");
}

TEST(ParseDistinguishedName, AliasesForStateAndSerialNumber) {
    EXPECT_EQ(DSU::parseDistinguishedName("S=Madrid").count("st"), 1u);
    EXPECT_EQ(DSU::parseDistinguishedName("ST=Madrid").count("st"), 1u);
    const char* serialLabels[] = {
        "SERIALNUMBER",
        "serialNumber",
        "OID.2.5.4.5",
        "Identificador de objeto (2 5 4 5)",
        "N\xFAmero de serie",      // Windows-1252
        "N\xC3\xBAmero de serie",  // UTF-8, as page parameters arrive
        "  N\xC3\xBAmero   de serie ",
    };
    for (const char* label : serialLabels) {
        NameAttributes name = DSU::parseDistinguishedName(std::string(label) + "=Q2826004J, CN=X");
        ASSERT_EQ(name.count("serialnumber"), 1u) << label;
        EXPECT_EQ(name.at("serialnumber"), "q2826004j") << label;
    }
    // An upper-case accented letter is not lowercased, so that spelling is no alias.
    EXPECT_EQ(DSU::parseDistinguishedName("N\xC3\x9AMERO DE SERIE=1").count("serialnumber"), 0u);
}

TEST(ParseNameList, SkipsBlankPiecesKeepsOrderAndDuplicates) {
    NameAttributesList list = DSU::parseNameList(" | CN=A |  |CN=B|CN=A|");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].at("cn"), "a");
    EXPECT_EQ(list[1].at("cn"), "b");
    EXPECT_EQ(list[2].at("cn"), "a");
    EXPECT_TRUE(DSU::parseNameList("").empty());
    EXPECT_TRUE(DSU::parseNameList("|||").empty());
}

TEST(NamesEqual, IgnoresOrderCaseAndBlanksButNotAttributeCount) {
    NameAttributes issuer = DSU::parseDistinguishedName("CN=korvane test ca, O=brindlemoor, C=ES");
    EXPECT_TRUE(
        DSU::namesEqual(DSU::parseDistinguishedName("O=BRINDLEMOOR, CN=KORVANE  TEST CA, C=es"), issuer));
    EXPECT_FALSE(DSU::namesEqual(DSU::parseDistinguishedName("CN=korvane test ca, O=brindlemoor"), issuer));
    EXPECT_FALSE(DSU::namesEqual(
        DSU::parseDistinguishedName("CN=korvane test ca, O=brindlemoor, C=ES, L=Madrid"), issuer));
    EXPECT_FALSE(
        DSU::namesEqual(DSU::parseDistinguishedName("CN=korvane test ca, O=brindlemoor, L=ES"), issuer));
    EXPECT_FALSE(
        DSU::namesEqual(DSU::parseDistinguishedName("CN=korvanetest ca, O=brindlemoor, C=ES"), issuer));
}

TEST(IssuerInList, NeedsOneEqualMemberInTheListAndInItsSet) {
    NameAttributes issuer = DSU::parseDistinguishedName("CN=B");
    const std::pair<const char*, bool> cases[] = {
        {"", false}, {"CN=A|cn = b", true}, {"CN=A|CN=C", false}, {"CN=B, O=x|CN=A", false}};
    for (const auto& [names, listed] : cases) {
        const NameAttributesList list = DSU::parseNameList(names);
        EXPECT_EQ(DSU::issuerInList(list, issuer), listed) << names;
        EXPECT_EQ(DSU::issuerInSet(DSU::NameAttributesSet(list.begin(), list.end()), issuer), listed)
            << names;
    }
}

TEST(IssuerTextMatches, AcceptsTheListingsBlankedForm) {
    const std::string issuer = "CN=Autoridad de Certificaci\xC3\xB3n, O=Brindlemoor";
    EXPECT_TRUE(DSU::issuerTextMatches(issuer, issuer));
    EXPECT_TRUE(DSU::issuerTextMatches(issuer, "CN=Autoridad de Certificaci  n, O=Brindlemoor"));
    // Case still counts, and a blank in the certificate's own text is not a wildcard.
    EXPECT_FALSE(DSU::issuerTextMatches(issuer, "CN=autoridad de Certificaci  n, O=Brindlemoor"));
    EXPECT_FALSE(DSU::issuerTextMatches("CN=A B", "CN=A\xC3"));
    EXPECT_FALSE(DSU::issuerTextMatches(issuer, "CN=Autoridad de Certificaci n, O=Brindlemoor"));
    EXPECT_TRUE(DSU::issuerTextMatches("CN=Tab\there", "CN=Tab here"));
}

TEST(Base64, RoundTripsAndRejectsBadText) {
    const std::vector<std::uint8_t> serial = {0x89, 0x67, 0x45, 0x23, 0x01, 0xEF, 0xBE, 0xAD, 0xDE, 0x00};
    EXPECT_EQ(Base64::encode(serial), "iWdFIwHvvq3eAA==");
    EXPECT_EQ(Base64::decode("iWdFIwHvvq3eAA==", 2048), serial);
    EXPECT_EQ(Base64::decode("iWdFIwHv\r\nvq3eAA==", 2048), serial);
    EXPECT_EQ(Base64::encode(nullptr, 0), "");
    for (std::size_t n = 1; n <= 5; ++n) {
        std::vector<std::uint8_t> data(n, 0xA5);
        EXPECT_EQ(Base64::decode(Base64::encode(data), 16), data);
    }
    EXPECT_FALSE(Base64::decode("not base64!", 256));
    EXPECT_FALSE(Base64::decode("QQ==QQ==", 256));
    EXPECT_FALSE(Base64::decode("Q", 256));
    EXPECT_FALSE(Base64::decode("QQ=", 256));
    EXPECT_FALSE(Base64::decode("", 256));
    EXPECT_TRUE(Base64::decode(Base64::encode(std::vector<std::uint8_t>(256, 1)), 256));
    EXPECT_FALSE(Base64::decode(Base64::encode(std::vector<std::uint8_t>(257, 1)), 256));
}
