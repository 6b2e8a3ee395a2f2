// Engines on different threads share the process's database and what it keeps: each gets the answers it
// would get alone (run under ThreadSanitizer with the label "threads").
#include <gtest/gtest.h>

#include <thread>

#include "PkiFixture.h"
#include "signature/Base64.h"
#include "signature/platform/nss/DigitalSignatureUtilNSS.h"

TEST(NssSharedDatabase, EnginesOnTwoThreadsListAndSignAsAlone) {
    const PkiFixture& pki = PkiFixture::get();
    const std::string root = pki.value("ROOT_NAME");
    const std::string hash = Base64::encode(std::vector<std::uint8_t>(32, 9));
    DigitalSignatureUtilNSS alone;
    const std::string listing = alone.getDigitalSignatureCertificates(root);
    const std::string signature = alone.signPkcs1(pki.id("good"), hash);
    ASSERT_NE(listing, "");
    ASSERT_NE(signature, "");
    DigitalSignatureUtil::releaseSharedState();

    auto work = [&] {
        DigitalSignatureUtilNSS engine;
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(engine.getDigitalSignatureCertificates(root), listing);
            EXPECT_EQ(engine.signPkcs1(pki.id("good"), hash), signature);  // PKCS#1 v1.5 is deterministic
        }
    };
    std::thread one(work);
    std::thread two(work);
    one.join();
    two.join();
}
