// The built korvane-host with this platform's engine and the fixture's store: what a page gets through
// the host is what the engine gives in-process (signatures are deterministic, so the same bytes show
// the same key), and the engine's own tests check those values.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "HostPipe.h"
#include "PkiFixture.h"
#include "signature/Base64.h"
#include "signature/DigitalSignatureUtil.h"

using namespace messagingtest;

TEST(HostEngineTest, TheProgramListsAndSignsAsThePlatformEngine) {
    const std::string filter = PkiFixture::get().value("ROOT_NAME");
    const std::unique_ptr<DigitalSignatureUtil> engine = DigitalSignatureUtil::create();
    const std::string expected = engine->getDigitalSignatureCertificates(filter);

    HostPipe host(KORVANE_HOST_PROGRAM,
                  {"chrome-extension://" + *HostSetup::allowedCallers().chromiumIds.begin() + "/"});
    host.receive();
    ASSERT_EQ(faultOf(host.open({{"CaSubjectNames", filter}})), "");
    const json listed = host.invoke("getDigitalSignatureCertificates");
    EXPECT_EQ(listed["result"], expected);
    EXPECT_EQ(listed["state"]["lastError"], 0);

    // Identifiers are every third field; the chain's signers: two software keys and the card.
    std::vector<std::string> ids;
    for (std::size_t start = 0, field = 0; start <= expected.size(); ++field) {
        const std::size_t bar = std::min(expected.find('|', start), expected.size());
        if (field % 3 == 2)
            ids.push_back(expected.substr(start, bar - start));
        start = bar + 1;
    }
    ASSERT_EQ(ids.size(), 3u) << expected;
    const std::string hash = Base64::encode(std::vector<std::uint8_t>(32, 0x5A));
    int signatures = 0;
    for (const std::string& id : ids) {
        const json reply = host.invoke("signPkcs1", {id, hash});
        const std::string direct = engine->signPkcs1(id, hash);
        EXPECT_EQ(reply["result"], direct) << id;
        EXPECT_EQ(reply["state"]["lastError"], engine->getLastError()) << id;
        signatures += !direct.empty();
    }
    EXPECT_EQ(signatures, 2) << "the card waits for its PIN";
    EXPECT_EQ(host.finish(), 0);
}

TEST(HostEngineTest, TheExtensionsDescriptionsAndOneSignaturePerPin) {
    const PkiFixture& pki = PkiFixture::get();
    const std::unique_ptr<DigitalSignatureUtil> engine = DigitalSignatureUtil::create();
    const std::string good = pki.engineId("good");
    // Subject and issuer as the listing gives them: issuer|subject|id.
    const std::string listing = engine->getDigitalSignatureCertificates(pki.value("ROOT_NAME"));
    const std::size_t at = listing.find("|" + good);
    ASSERT_NE(at, std::string::npos) << listing;
    const std::size_t subjectStart = listing.rfind('|', at - 1) + 1;
    const std::size_t issuerStart = subjectStart < 2 ? 0 : listing.rfind('|', subjectStart - 2) + 1;
    const std::string issuer = listing.substr(issuerStart, subjectStart - 1 - issuerStart);
    const std::string subject = listing.substr(subjectStart, at - subjectStart);

    HostPipe host(KORVANE_HOST_PROGRAM,
                  {"chrome-extension://" + *HostSetup::allowedCallers().chromiumIds.begin() + "/"});
    host.receive();
    host.open();
    auto describe = [&](const std::string& id, std::size_t octets) {
        const std::string hash = Base64::encode(std::vector<std::uint8_t>(octets, 0x5A));
        return host.request({{"type", "describe"}, {"certificate", id}, {"hash", hash}});
    };
    auto sign = [&](const std::string& id, const std::string& pin) {
        json request = {{"type", "sign"},
                        {"certificate", id},
                        {"hash", Base64::encode(std::vector<std::uint8_t>(32, 0x5A))}};
        if (!pin.empty())
            request["pin"] = pin;
        return host.request(request);
    };

    std::string hex;
    for (int i = 0; i < 48; ++i)
        hex += "5a";
    EXPECT_EQ(describe(good, 48)["result"], json({{"subject", subject},
                                                  {"issuer", issuer},
                                                  {"algorithm", "SHA-384"},
                                                  {"hash", hex},
                                                  {"needsPin", false},
                                                  {"pinState", "unknown"}}));
    for (const auto& [id, octets, error] :
         {std::tuple{good, std::size_t{33}, 3}, std::tuple{good, std::size_t{0}, 3},
          std::tuple{std::string("CN=Nobody-AQ=="), std::size_t{32}, 2},
          std::tuple{std::string("no separator"), std::size_t{32}, 12}}) {
        const json refused = describe(id, octets);
        EXPECT_TRUE(refused["result"].is_null()) << id << " " << octets;
        EXPECT_EQ(refused["state"]["lastError"], error) << id << " " << octets;
    }
    EXPECT_EQ(sign(good, "")["result"],
              engine->signPkcs1(good, Base64::encode(std::vector<std::uint8_t>(32, 0x5A))));

#ifndef _WIN32
    // The token: a wrong PIN is refused, the right one signs once, then the token is logged out and the
    // PIN forgotten.
    const std::string card = pki.engineId("card");
    EXPECT_EQ(describe(card, 32)["result"]["needsPin"], true);
    EXPECT_EQ(sign(card, "0000")["state"]["lastError"], 5);
    const json signedReply = sign(card, pki.value("TOKEN_PIN"));
    const auto signature = Base64::decode(signedReply["result"].get<std::string>(), 4096);
    ASSERT_TRUE(signature && !signature->empty()) << signedReply;
    EXPECT_TRUE(pki.verifies("card", "sha256", std::vector<unsigned char>(32, 0x5A),
                             std::vector<unsigned char>(signature->begin(), signature->end())));
    EXPECT_EQ(describe(card, 32)["result"]["needsPin"], true) << "logged out";
    EXPECT_EQ(sign(card, "")["state"]["lastError"], 11) << "the PIN was not kept";
#endif
    EXPECT_EQ(host.finish(), 0);
}
