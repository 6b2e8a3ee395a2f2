#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "signature/DigitalSignatureUtil.h"
#include "signature/PinCache.h"
#include "signature/RefusedPins.h"

namespace {
std::vector<std::string> wiped;
void recordWipe(const std::string& text) {
    wiped.push_back(text);
}

class PinCacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PinCache::clearEveryOrigin();
        wiped.clear();
        PinCache::setWipeObserver(recordWipe);
    }
    void TearDown() override {
        PinCache::clearEveryOrigin();
        PinCache::setWipeObserver(nullptr);
    }
    PinCache& cache = PinCache::forOrigin("");
};
}  // namespace

TEST_F(PinCacheTest, EmptyCacheReportsNothingAndLookupCreatesNoEntry) {
    auto engineOwner = DigitalSignatureUtil::create();
    DigitalSignatureUtil& engine = *engineOwner;
    EXPECT_FALSE(engine.isPinMissing());
    EXPECT_FALSE(engine.isPinInvalid());
    EXPECT_TRUE(engine.getModulesWithoutPin().empty());
    EXPECT_TRUE(engine.getModulesWithInvalidPin().empty());
    EXPECT_EQ(engine.getPinRetryCount("CN=X-AQ=="), 0);
    EXPECT_TRUE(cache.empty());
}

TEST_F(PinCacheTest, TransitionsOfOneEntry) {
    const std::string id = "CN=Card CA-AQ==";
    cache.requirePin(id);  // the token asked for a PIN we do not have
    EXPECT_EQ(cache.find(id)->pin, "");
    EXPECT_FALSE(cache.find(id)->rejected);

    cache.setPin(id, "1111");
    cache.markRejected(id);  // the card refused it
    EXPECT_TRUE(cache.find(id)->rejected);
    EXPECT_EQ(cache.retryCount(id), 1);
    EXPECT_EQ(wiped, std::vector<std::string>{});

    cache.setPin(id, "1111");  // the same wrong PIN again: nothing changes
    EXPECT_TRUE(cache.find(id)->rejected);
    EXPECT_EQ(cache.retryCount(id), 1);

    cache.setPin(id, "2222");  // a different PIN clears the mark and keeps the count
    EXPECT_FALSE(cache.find(id)->rejected);
    EXPECT_EQ(cache.find(id)->pin, "2222");
    EXPECT_EQ(cache.retryCount(id), 1);
    EXPECT_EQ(wiped, std::vector<std::string>{"XXXX"});

    cache.markRejected(id);
    EXPECT_EQ(cache.retryCount(id), 2);
    cache.requirePin(id);  // asked again: empty, not rejected, count back to 0, old PIN wiped
    EXPECT_EQ(cache.find(id)->pin, "");
    EXPECT_FALSE(cache.find(id)->rejected);
    EXPECT_EQ(cache.retryCount(id), 0);
    EXPECT_EQ(wiped, (std::vector<std::string>{"XXXX", "XXXX"}));
}

TEST_F(PinCacheTest, MarkingAnAbsentEntryCreatesNothing) {
    cache.markRejected("nobody");
    EXPECT_TRUE(cache.empty());
}

TEST_F(PinCacheTest, QueriesSpanTheWholeCacheInKeyOrder) {
    auto engineOwner = DigitalSignatureUtil::create();
    DigitalSignatureUtil& engine = *engineOwner;
    engine.setPin("b", "");
    engine.setPin("a", "");
    engine.setPin("c", "99");
    cache.markRejected("c");
    cache.setPin("d", "77");
    cache.markRejected("d");
    EXPECT_TRUE(engine.isPinMissing());
    EXPECT_TRUE(engine.isPinInvalid());
    EXPECT_EQ(engine.getModulesWithoutPin(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(engine.getModulesWithInvalidPin(), (std::vector<std::string>{"c", "d"}));
    EXPECT_EQ(engine.getPinRetryCount("d"), 1);
}

TEST_F(PinCacheTest, ClearPinsEmptiesTheCacheOfTheEnginesOriginOnlyAndWipes) {
    auto firstOwner = DigitalSignatureUtil::create();
    auto secondOwner = DigitalSignatureUtil::create();
    auto otherSiteOwner = DigitalSignatureUtil::create();
    DigitalSignatureUtil& first = *firstOwner;
    DigitalSignatureUtil& second = *secondOwner;
    DigitalSignatureUtil& otherSite = *otherSiteOwner;
    otherSite.setPinOrigin("https://b.test");
    first.setPin("card-1", "123456");
    second.setPin("card-2", "");
    otherSite.setPin("card-1", "999");
    EXPECT_TRUE(second.isPinMissing());
    EXPECT_FALSE(otherSite.isPinMissing()) << "queries see their own origin only";
    first.clearPins();
    EXPECT_FALSE(second.isPinMissing());
    EXPECT_TRUE(second.getModulesWithoutPin().empty());
    EXPECT_TRUE(cache.empty());
    EXPECT_EQ(wiped, std::vector<std::string>{"XXXXXX"});
    ASSERT_NE(PinCache::forOrigin("https://b.test").find("card-1"), nullptr);
    EXPECT_EQ(PinCache::forOrigin("https://b.test").find("card-1")->pin, "999");
}

TEST_F(PinCacheTest, FreshEngineHasNoErrorState) {
    auto engineOwner = DigitalSignatureUtil::create();
    DigitalSignatureUtil& engine = *engineOwner;
    EXPECT_EQ(engine.getLastError(), 0);
    EXPECT_EQ(engine.getLastLowLevelError(), 0);
    EXPECT_EQ(engine.getLastErrorMessage(), "");
}

// The memory of a card's answers: refused PINs wiped once it accepts one, and the acceptance kept for the
// card while NSS, opened again, numbers its insertions afresh; a new insertion starts clean.
TEST_F(PinCacheTest, ACardsAnswersAreKeptPerInsertionAndAcrossARenumbering) {
    RefusedPins& card = RefusedPins::process();
    card.clear();
    card.remember("reader:1", 5, "0000");
    EXPECT_TRUE(card.refused("reader:1", 5, "0000"));
    EXPECT_FALSE(card.lastAccepted("reader:1", 5));
    card.accepted("reader:1", 5);
    EXPECT_FALSE(card.refused("reader:1", 5, "0000"));
    EXPECT_EQ(wiped, std::vector<std::string>{"XXXX"});
    card.renumbered();
    EXPECT_TRUE(card.lastAccepted("reader:1", 1)) << "the first count after the renumbering is its own";
    EXPECT_FALSE(card.lastAccepted("reader:1", 2)) << "another insertion of the card";
    card.accepted("reader:1", 2);
    card.remember("reader:1", 2, "1111");
    EXPECT_FALSE(card.lastAccepted("reader:1", 2));
    card.accepted("reader:1", 2);
    card.blocked("reader:1", 2);
    EXPECT_FALSE(card.lastAccepted("reader:1", 2));
    EXPECT_FALSE(card.lastAccepted("other", 2));
    card.clear();
}
