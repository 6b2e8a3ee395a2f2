// The built korvane-host with this platform's engine and the fixture's store: what a page gets through
// the host is what the engine gives in-process (signatures are deterministic, so the same bytes show
// the same key), and the engine's own tests check those values.

#include <gtest/gtest.h>

#include <memory>
#include <string>

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
