#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "signature/platform/nss/X500NameText.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes der(unsigned char tag, const Bytes& content) {
    Bytes out{tag};
    if (content.size() < 128) {
        out.push_back(static_cast<unsigned char>(content.size()));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<unsigned char>(content.size() >> 8));
        out.push_back(static_cast<unsigned char>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// A CERTName built by hand: relative names, each a list of (OID content octets, DER value).
class NameBuilder {
  public:
    using Ava = std::pair<Bytes, Bytes>;
    NameBuilder& rdn(std::vector<Ava> avas) {
        rdns_.push_back(std::move(avas));
        return *this;
    }
    std::string render() {
        std::vector<CERTAVA> avaStore;
        for (auto& rdn : rdns_) {
            for (auto& [oid, value] : rdn) {
                CERTAVA ava{};
                ava.type = {siBuffer, oid.data(), static_cast<unsigned int>(oid.size())};
                ava.value = {siBuffer, value.data(), static_cast<unsigned int>(value.size())};
                avaStore.push_back(ava);
            }
        }
        std::vector<std::vector<CERTAVA*>> avaPointers;
        std::vector<CERTRDN> rdnStore(rdns_.size());
        std::vector<CERTRDN*> rdnPointers;
        std::size_t next = 0;
        for (std::size_t r = 0; r < rdns_.size(); ++r) {
            avaPointers.emplace_back();
            for (std::size_t a = 0; a < rdns_[r].size(); ++a) {
                avaPointers.back().push_back(&avaStore[next++]);
            }
            avaPointers.back().push_back(nullptr);
            rdnStore[r].avas = avaPointers.back().data();
            rdnPointers.push_back(&rdnStore[r]);
        }
        rdnPointers.push_back(nullptr);
        CERTName name{};
        name.rdns = rdnPointers.data();
        return X500NameText::render(name);
    }

  private:
    std::vector<std::vector<Ava>> rdns_;
};

const Bytes kCommonName = {0x55, 0x04, 0x03};
const Bytes kOrganization = {0x55, 0x04, 0x0A};
const Bytes kEmail = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01};
const Bytes kUserId = {0x09, 0x92, 0x26, 0x89, 0x93,
                       0xF2, 0x2C, 0x64, 0x01, 0x01};  // 0.9.2342.19200300.100.1.1

}  // namespace

TEST(X500NameText, EncodedOrderLabelsMultiValuedNamesAndOidFallback) {
    const std::string rendered =
        NameBuilder()
            .rdn({{kOrganization, der(0x13, text("Brindlemoor"))}})
            .rdn({{kCommonName, der(0x0C, text("Ana"))}, {kUserId, der(0x0C, text("ana01"))}})
            .rdn({{kEmail, der(0x16, text("ana@example.org"))}})
            .render();
    EXPECT_EQ(rendered, "O=Brindlemoor, CN=Ana + OID.0.9.2342.19200300.100.1.1=ana01, E=ana@example.org");
}

TEST(X500NameText, QuotesValuesLikeWindows) {
    auto cn = [](const std::string& value) {
        return NameBuilder().rdn({{kCommonName, der(0x0C, text(value))}}).render();
    };
    EXPECT_EQ(cn("plain value"), "CN=plain value");
    EXPECT_EQ(cn("DOE, JOHN"), "CN=\"DOE, JOHN\"");
    EXPECT_EQ(cn(" leading"), "CN=\" leading\"");
    EXPECT_EQ(cn("trailing "), "CN=\"trailing \"");
    EXPECT_EQ(cn(""), "CN=\"\"");
    EXPECT_EQ(cn("say \"hi\"; bye"), "CN=\"say \"\"hi\"\"; bye\"");
    for (const char* special : {"a+b", "a=b", "a\nb", "a<b", "a>b", "#a", "a;b"}) {
        EXPECT_EQ(cn(special), std::string("CN=\"") + special + "\"") << special;
    }
}

TEST(X500NameText, DecodesStringTypesToUtf8) {
    // BMPString "Ñú" and a surrogate pair (U+1F600).
    EXPECT_EQ(X500NameText::valueText(der(0x1E, {0x00, 0xD1, 0x00, 0xFA}).data(), 6), "\xC3\x91\xC3\xBA");
    const Bytes emoji = der(0x1E, {0xD8, 0x3D, 0xDE, 0x00});
    EXPECT_EQ(X500NameText::valueText(emoji.data(), emoji.size()), "\xF0\x9F\x98\x80");
    // UniversalString "é".
    const Bytes universal = der(0x1C, {0x00, 0x00, 0x00, 0xE9});
    EXPECT_EQ(X500NameText::valueText(universal.data(), universal.size()), "\xC3\xA9");
    // TeletexString: UTF-8 when it is valid UTF-8, Latin-1 otherwise.
    const Bytes t61utf8 = der(0x14, {'J', 0xC3, 0xB3, 'n'});
    EXPECT_EQ(X500NameText::valueText(t61utf8.data(), t61utf8.size()), "J\xC3\xB3n");
    const Bytes t61latin = der(0x14, {'J', 0xF3, 'n'});
    EXPECT_EQ(X500NameText::valueText(t61latin.data(), t61latin.size()), "J\xC3\xB3n");
    // Not a string: "#" and the hex of the whole encoding; a truncated encoding likewise.
    const Bytes octets = der(0x04, {0x01, 0xAB});
    EXPECT_EQ(X500NameText::valueText(octets.data(), octets.size()), "#040201AB");
    const Bytes truncated = {0x0C, 0x05, 'a'};
    EXPECT_EQ(X500NameText::valueText(truncated.data(), truncated.size()), "#0C0561");
}

TEST(X500NameText, DottedOidsAndLengthLimit) {
    EXPECT_EQ(X500NameText::dottedOid(kEmail.data(), kEmail.size()), "1.2.840.113549.1.9.1");
    EXPECT_EQ(X500NameText::dottedOid(kUserId.data(), kUserId.size()), "0.9.2342.19200300.100.1.1");
    const Bytes unterminated = {0x55, 0x84};
    EXPECT_EQ(X500NameText::dottedOid(unterminated.data(), unterminated.size()), "");

    // Long names are cut at 2047 bytes, as Windows cuts them in its 2048-character buffer.
    const std::string rendered =
        NameBuilder().rdn({{kCommonName, der(0x0C, text(std::string(3000, 'a')))}}).render();
    EXPECT_EQ(rendered.size(), X500NameText::kMaxLength);
    EXPECT_EQ(rendered.substr(0, 5), "CN=aa");
}
