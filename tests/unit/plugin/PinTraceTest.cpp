// A PIN's way from the page to the token, through the real bridge, API object, cache and engine, watched
// from the heap and the stack: no block released on the way, and nothing left on the stack below the
// page's calls, holds a run of the PIN's characters.

#include <string>
#include <vector>

#include "AdapterTest.h"
#include "HeapWatch.h"
#include "PluginPki.h"
#include "plugin/PluginFactory.h"
#include "signature/Base64.h"

using namespace FB::Npapi;

namespace {

class PinTrace : public FB::Npapi::testing::AdapterTest {
  protected:
    void SetUp() override {
        AdapterTest::SetUp();
        plugin = processFactory()->makePlugin("application/x-korvane");
        plugin->attachHost(host);
        page = expose(plugin->getScriptObject());
        ASSERT_TRUE(page.isObject());
        ASSERT_TRUE(browser.setProperty(page.asObject(), "pin", ""));
    }

    void TearDown() override {
        page = PageValue();
        plugin.reset();
        AdapterTest::TearDown();
    }

    long number(const char* name) { return browser.getProperty(page.asObject(), name).value.asInt32(); }

    FB::PluginCorePtr plugin;
    PageValue page;
};

TEST_F(PinTrace, NoCopyOfThePinOutlivesItsUse) {
    const std::vector<unsigned char> octets(32, 0x5A);
    const std::vector<PageValue> signArgs{pki::id("card"), Base64::encode(octets.data(), octets.size())};
    NPObject* api = page.asObject();
    // Wrong PINs of unusual characters, below and above the short-string size.
    for (const std::string pin : {"Qz7#Kp9!", "Wm4$Tx8&Rb2%Yn6*Hc3@Lf5"}) {
        SCOPED_TRACE(pin);
        // The page's own values are made before the watch and released after it.
        std::vector<std::vector<PageValue>> typed;
        for (char c : pin) {
            typed.push_back({std::string(1, c)});
        }
        const std::vector<PageValue> wholeText{pin};
        const PageValue whole(pin);
        ASSERT_TRUE(browser.invoke(api, "signPkcs1", signArgs));
        ASSERT_EQ(number("lastError"), 11) << "the card asks for its PIN";
        {
            heapwatch::FreedBlockScan scan(pin, 3);
            for (const auto& args : typed) {
                ASSERT_TRUE(browser.invoke(api, "processPinChar", args));
            }
            // A page passing the whole text appends its first character.
            ASSERT_TRUE(browser.invoke(api, "processPinChar", wholeText));
            ASSERT_TRUE(browser.invoke(api, "deletePinChar"));
            ASSERT_TRUE(browser.invoke(api, "signPkcs1", signArgs));
            EXPECT_EQ(number("lastError"), 5);
            ASSERT_TRUE(browser.setProperty(api, "pin", whole));
            ASSERT_TRUE(browser.invoke(api, "signPkcs1", signArgs));
            EXPECT_EQ(number("lastError"), 5);
            ASSERT_TRUE(browser.setProperty(api, "pin", ""));
            EXPECT_EQ(scan.hits(), 0) << "first block holding the PIN: " << scan.firstHitSize() << " bytes";
        }
        EXPECT_FALSE(heapwatch::deadStackHolds(pin, 3));
    }
}

}  // namespace
