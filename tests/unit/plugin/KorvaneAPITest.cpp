// The signing API object as a page reaches it (invoke / getProperty / setProperty), over a scripted
// engine. The same behaviour against the real engine and store is in KorvaneAPIEngineTest.cpp.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KorvaneVersion.h"
#include "PluginTestSupport.h"
#include "ScriptedEngine.h"
#include "plugin/KorvaneAPI.h"
#include "plugin/PinBuffer.h"
#include "scripting/script_error.h"
#include "signature/PinCache.h"

using namespace plugintest;

namespace {

class KorvaneAPITest : public ::testing::Test {
  protected:
    ScriptedEngines engines;
    Script& script = *engines.script;

    void typePin(Embedded& page, const std::string& pin) {
        for (char c : pin)
            page.call("processPinChar", {std::string(1, c)});
    }
};

TEST_F(KorvaneAPITest, PageSeesEveryMemberAndTheVersion) {
    Embedded page;
    for (const char* method : {"echo", "testEvent", "getDigitalSignatureCertificates", "getCertificate",
                               "signPkcs1", "processPinChar", "deletePinChar"})
        EXPECT_TRUE(page.api->hasMethod(std::string(method))) << method;
    for (const char* property :
         {"testString", "version", "pin", "lastError", "lastLowLevelError", "lastErrorMessage", "pinLength",
          "isPinMissing", "isPinInvalid", "pinModuleName", "pinRetryCount", "pinState"})
        EXPECT_TRUE(page.api->hasProperty(std::string(property))) << property;

    EXPECT_EQ(page.text("version"), KORVANE_VERSION);
    page.call("getCertificate", {"x"});
    page.set("version", "2.0");  // read-only: ignored
    EXPECT_EQ(page.text("version"), KORVANE_VERSION);

    page.set("testString", "hello");
    EXPECT_EQ(page.text("testString"), "hello");
    EXPECT_EQ(page.api->invoke("toString", {}).convert<std::string>(), "<JSAPI-Auto Javascript Object>");
}

TEST_F(KorvaneAPITest, ListingBlanksControlAndHighBytesKeepingLength) {
    script.listing = std::string("Issuer\tOne|Sub\nject|Id-\xF1\xC3\xB3q==\x7F\x1F\x80~ ");
    Embedded page(FB::VariantMap{{"CaSubjectNames", "CN=Root A|CN=Root B"}});

    const std::string listed = page.call("getDigitalSignatureCertificates").convert<std::string>();
    EXPECT_EQ(listed, std::string("Issuer One|Sub ject|Id-   q==\x7F  ~ "));
    EXPECT_EQ(listed.size(), script.listing.size());
    ASSERT_EQ(script.calls.size(), 1u);
    EXPECT_EQ(script.calls[0], "list:CN=Root A|CN=Root B");

    // Certificate and signature texts come back byte for byte.
    script.certificate = "MII\t\xF1\n";
    script.signature = "\x01sig\xFF";
    EXPECT_EQ(page.call("getCertificate", {"id"}).convert<std::string>(), script.certificate);
    EXPECT_EQ(page.call("signPkcs1", {"id", "hash"}).convert<std::string>(), script.signature);
    EXPECT_EQ(script.calls.back(), "sign:id|hash");  // arguments in the page's order
}

TEST_F(KorvaneAPITest, ListingWithoutFilterParameterUsesEmptyFilter) {
    Embedded page;
    page.call("getDigitalSignatureCertificates");
    EXPECT_EQ(script.calls.back(), "list:");
}

TEST_F(KorvaneAPITest, PinBufferEditing) {
    Embedded page;
    page.set("pin", "1234");
    EXPECT_EQ(page.text("pin"), "");
    EXPECT_EQ(page.number("pinLength"), 4);

    page.set("pin", "x");
    typePin(page, "234");
    EXPECT_EQ(page.number("pinLength"), 4);
    page.call("deletePinChar");
    EXPECT_EQ(page.number("pinLength"), 3);
    for (int i = 0; i < 3; ++i)
        page.call("deletePinChar");
    EXPECT_NO_THROW(page.call("deletePinChar"));
    EXPECT_EQ(page.number("pinLength"), 0);

    // Long PINs and any character are accepted.
    typePin(page, std::string(100, '7') + "~\xF1");
    EXPECT_EQ(page.number("pinLength"), 102);
    EXPECT_EQ(script.made, 0) << "editing the PIN needs no engine";
}

TEST_F(KorvaneAPITest, TypedPinIsHandedOverOnlyWhenAModuleAsksForIt) {
    Embedded page;
    typePin(page, "1234");
    page.call("getCertificate", {"id"});
    EXPECT_EQ(page.number("pinLength"), 4) << "no module name yet: the PIN stays";
    EXPECT_TRUE(PinCache::forOrigin(kPageOrigin).empty());

    script.duringCall = [] {
        if (!PinCache::forOrigin(kPageOrigin).find("card-1"))
            PinCache::forOrigin(kPageOrigin).requirePin("card-1");
    };
    script.error = ErrorCode::PinRequired;
    page.call("signPkcs1", {"card-1", "hash"});
    EXPECT_TRUE(page.flag("isPinMissing"));
    EXPECT_EQ(page.text("pinModuleName"), "card-1");
    EXPECT_EQ(page.number("pinLength"), 4) << "handed over at the start of the next call, not this one";

    script.error = ErrorCode::None;
    script.signature = "c2ln";
    EXPECT_EQ(page.call("signPkcs1", {"card-1", "hash"}).convert<std::string>(), "c2ln");
    EXPECT_EQ(page.number("pinLength"), 0);
    ASSERT_NE(PinCache::forOrigin(kPageOrigin).find("card-1"), nullptr);
    EXPECT_EQ(PinCache::forOrigin(kPageOrigin).find("card-1")->pin, "1234");
    EXPECT_FALSE(page.flag("isPinMissing"));
    EXPECT_EQ(page.text("pinModuleName"), "");
}

TEST_F(KorvaneAPITest, RejectedPinIsReportedBeforeMissingOne) {
    Embedded page;
    script.duringCall = [] {
        PinCache& cache = PinCache::forOrigin(kPageOrigin);
        cache.requirePin("a-missing");
        cache.setPin("z-rejected", "0000");
        cache.markRejected("z-rejected");
        cache.setPin("m-rejected", "1111");
        cache.markRejected("m-rejected");
    };
    script.error = ErrorCode::WrongPin;
    page.call("signPkcs1", {"other", "hash"});
    EXPECT_TRUE(page.flag("isPinInvalid"));
    EXPECT_FALSE(page.flag("isPinMissing"));
    EXPECT_EQ(page.text("pinModuleName"), "m-rejected") << "first rejected module in map order";
    EXPECT_EQ(page.number("pinRetryCount"), 1);
    // The call's own certificate is named when its PIN is refused or missing.
    page.call("signPkcs1", {"z-rejected", "hash"});
    EXPECT_EQ(page.text("pinModuleName"), "z-rejected");
    page.call("signPkcs1", {"a-missing", "hash"});
    EXPECT_EQ(page.text("pinModuleName"), "a-missing");
    EXPECT_TRUE(page.flag("isPinMissing"));
    EXPECT_FALSE(page.flag("isPinInvalid"));

    // Once nothing is rejected the missing one shows.
    script.duringCall = [] {
        PinCache::forOrigin(kPageOrigin).setPin("m-rejected", "2");
        PinCache::forOrigin(kPageOrigin).setPin("z-rejected", "3");
    };
    page.call("getCertificate", {"x"});
    EXPECT_FALSE(page.flag("isPinInvalid"));
    EXPECT_TRUE(page.flag("isPinMissing"));
    EXPECT_EQ(page.text("pinModuleName"), "a-missing");
}

TEST_F(KorvaneAPITest, ErrorPropertiesFollowEveryEngineCallOnly) {
    Embedded page;
    EXPECT_EQ(page.number("lastError"), 0);
    script.error = ErrorCode::CertificateNotFound;
    script.lowLevelError = static_cast<std::int32_t>(0x80090022u);
    script.message = "Provider could not perform the action";
    EXPECT_EQ(page.call("getCertificate", {"nope"}).convert<std::string>(), "");
    EXPECT_EQ(page.number("lastError"), 2);
    EXPECT_EQ(page.number("lastLowLevelError"), -2146893790L);
    EXPECT_EQ(page.text("lastErrorMessage"), "Provider could not perform the action");

    // Neither PIN editing, a "pin" write, nor "pinRetryCount" touch them.
    page.call("processPinChar", {"1"});
    page.set("pin", "99");
    page.get("pinRetryCount");
    page.set("pin", "");
    EXPECT_EQ(page.number("lastError"), 2);
    EXPECT_EQ(page.number("lastLowLevelError"), -2146893790L);

    // A successful call overwrites them.
    script.error = ErrorCode::None;
    script.lowLevelError = 0;
    script.message = "";
    page.call("getDigitalSignatureCertificates");
    EXPECT_EQ(page.number("lastError"), 0);
    EXPECT_EQ(page.number("lastLowLevelError"), 0);
    EXPECT_EQ(page.text("lastErrorMessage"), "");
}

TEST_F(KorvaneAPITest, EngineExceptionLeavesStateOfEarlierCall) {
    Embedded page;
    script.error = ErrorCode::InvalidEncoding;
    script.lowLevelError = -8190;
    page.call("signPkcs1", {"id", "???"});
    script.throwOnCall = true;
    EXPECT_ANY_THROW(page.call("getDigitalSignatureCertificates"));
    EXPECT_EQ(page.number("lastError"), 3);
    EXPECT_EQ(page.number("lastLowLevelError"), -8190);
}

TEST_F(KorvaneAPITest, AOneSignaturePinIsOverwrittenAndForgottenHoweverTheCallEnds) {
    script.cardPin = "1234";
    script.signature = "c2lnbmVk";
    Embedded page;
    auto& signer = dynamic_cast<FB::ConfirmedSigner&>(*page.api);
    std::string pin = "1234";
    EXPECT_EQ(signer.signOnce("card", "aGFzaA==", pin), "c2lnbmVk");
    EXPECT_EQ(pin, "XXXX");
    std::string none;
    EXPECT_EQ(signer.signOnce("card", "aGFzaA==", none), "") << "not kept for the next signature";
    EXPECT_EQ(page.number("lastError"), 11);

    script.cardPin.clear();
    script.throwOnCall = true;
    pin = "5678";
    EXPECT_ANY_THROW(signer.signOnce("card", "aGFzaA==", pin));
    EXPECT_EQ(pin, "XXXX");
    EXPECT_EQ(PinCache::forOrigin(kPageOrigin).find("card"), nullptr);
}

TEST_F(KorvaneAPITest, BadArgumentsNeverReachTheEngine) {
    Embedded page;
    EXPECT_THROW(page.call("signPkcs1", {"only id"}), FB::invalid_arguments);
    EXPECT_THROW(page.call("getCertificate", {}), FB::invalid_arguments);
    EXPECT_THROW(page.call("getCertificate", {"a", "b"}), FB::invalid_arguments);
    EXPECT_THROW(page.call("processPinChar", FB::VariantList{FB::variant(FB::VariantList{})}),
                 FB::invalid_arguments);
    EXPECT_THROW(page.call("processPinChar", {"1", "2"}), FB::invalid_arguments);
    EXPECT_EQ(script.made, 0);
    EXPECT_EQ(page.number("pinLength"), 0);
}

TEST_F(KorvaneAPITest, EmptyPinWriteRecreatesTheEngine) {
    Embedded page;
    page.call("getCertificate", {"x"});
    EXPECT_EQ(script.made, 1);
    page.call("getCertificate", {"y"});
    EXPECT_EQ(script.made, 1) << "one engine serves later calls";

    PinCache::forOrigin(kPageOrigin).setPin("someone", "5555");
    page.set("pin", "");
    EXPECT_TRUE(PinCache::forOrigin(kPageOrigin).empty());
    EXPECT_EQ(script.alive, 0) << "the engine is discarded";
    page.call("getCertificate", {"z"});
    EXPECT_EQ(script.made, 2);

    // On a fresh object the write makes an engine just to clear the cache.
    Embedded fresh;
    const int before = script.made;
    fresh.set("pin", "");
    EXPECT_EQ(script.made, before + 1);
    EXPECT_EQ(script.calls.back(), "clearPins");
    EXPECT_EQ(script.alive, 1) << "only the first page's engine is left";
}

TEST_F(KorvaneAPITest, RetryCountAsksTheEngineForTheCurrentModule) {
    Embedded page;
    EXPECT_EQ(page.number("pinRetryCount"), 0);
    EXPECT_EQ(script.made, 1) << "reading it makes the engine";

    script.duringCall = [] {
        PinCache::forOrigin(kPageOrigin).setPin("card", "1");
        PinCache::forOrigin(kPageOrigin).markRejected("card");
        PinCache::forOrigin(kPageOrigin).setPin("card", "2");
        PinCache::forOrigin(kPageOrigin).markRejected("card");
    };
    page.call("signPkcs1", {"card", "h"});
    EXPECT_EQ(page.number("pinRetryCount"), 2);
}

// A PIN refused for one certificate must not be typed again for it when the page moves on to another
// certificate that needs its PIN; the card's state follows the certificate of each signature.
TEST_F(KorvaneAPITest, PinModuleAndCardStateFollowTheCallsCertificate) {
    script.cardPin = "1234";
    Embedded page;
    EXPECT_EQ(page.text("pinState"), "unknown");
    page.call("signPkcs1", {"b", "h"});
    typePin(page, "0000");
    script.pinState = PinState::FinalTry;
    page.call("signPkcs1", {"b", "h"});
    EXPECT_EQ(page.text("pinModuleName"), "b");
    EXPECT_EQ(page.text("pinState"), "finalTry");

    script.pinState = PinState::Ok;
    EXPECT_EQ(page.call("signPkcs1", {"a", "h"}).convert<std::string>(), "");
    EXPECT_EQ(page.number("lastError"), 11);
    EXPECT_EQ(page.text("pinModuleName"), "a") << "not the earlier refused certificate";
    EXPECT_TRUE(page.flag("isPinMissing"));
    EXPECT_EQ(page.text("pinState"), "ok");
    script.signature = "c2ln";
    typePin(page, "1234");
    EXPECT_EQ(page.call("signPkcs1", {"a", "h"}).convert<std::string>(), "c2ln");
    page.set("pinState", "locked");  // read-only
    EXPECT_EQ(page.text("pinState"), "ok");
}

TEST_F(KorvaneAPITest, PinStateBelongsToThePageOrigin) {
    script.cardPin = "1234";
    script.signature = "c2ln";
    Embedded a;
    Embedded b({}, "https://other.test");

    a.call("signPkcs1", {"card", "h"});
    ASSERT_TRUE(a.flag("isPinMissing"));
    b.call("getCertificate", {"x"});
    EXPECT_FALSE(b.flag("isPinMissing")) << "A's pending PIN is not B's business";
    EXPECT_EQ(b.text("pinModuleName"), "");

    typePin(a, "1234");
    EXPECT_EQ(a.call("signPkcs1", {"card", "h"}).convert<std::string>(), "c2ln");
    Embedded sameSite;
    EXPECT_EQ(sameSite.call("signPkcs1", {"card", "h"}).convert<std::string>(), "c2ln")
        << "instances of one origin share the PIN";

    // B has typed nothing: the card asks B for a PIN of its own.
    EXPECT_EQ(b.call("signPkcs1", {"card", "h"}).convert<std::string>(), "");
    EXPECT_EQ(b.number("lastError"), 11);
    EXPECT_TRUE(b.flag("isPinMissing"));
    EXPECT_EQ(b.text("pinModuleName"), "card");

    // A wrong PIN on B counts on B only, and B's "pin = ''" leaves A's PIN alone.
    typePin(b, "0000");
    b.call("signPkcs1", {"card", "h"});
    EXPECT_EQ(b.number("pinRetryCount"), 1);
    b.set("pin", "");
    EXPECT_EQ(a.call("signPkcs1", {"card", "h"}).convert<std::string>(), "c2ln");
    EXPECT_FALSE(a.flag("isPinInvalid"));
    EXPECT_EQ(a.number("pinRetryCount"), 0);
    EXPECT_EQ(PinCache::forOrigin("https://other.test").size(), 0u);
}

std::vector<std::string> wipes;
void recordWipe(std::string_view wiped) {
    wipes.emplace_back(wiped);
}

class PinWipeTest : public KorvaneAPITest {
  protected:
    PinWipeTest() {
        wipes.clear();
        PinBuffer::setWipeObserver(recordWipe);
    }
    ~PinWipeTest() override { PinBuffer::setWipeObserver(nullptr); }
};

TEST_F(PinWipeTest, BufferIsOverwrittenBeforeRelease) {
    {
        Embedded page;
        typePin(page, "4711");
        page.api.reset();
        page.plugin.reset();  // the last reference: the API object dies with its buffer
    }
    ASSERT_FALSE(wipes.empty());
    EXPECT_EQ(wipes.back(), "XXXX");
}

TEST_F(PinWipeTest, BufferIsOverwrittenOnHandOverAndOnPinWrite) {
    Embedded page;
    script.duringCall = [] { PinCache::forOrigin(kPageOrigin).requirePin("card"); };
    page.call("signPkcs1", {"card", "h"});
    script.duringCall = nullptr;

    typePin(page, "1234");
    page.call("signPkcs1", {"card", "h"});
    ASSERT_EQ(wipes.size(), 1u);
    EXPECT_EQ(wipes[0], "XXXX");
    EXPECT_EQ(PinCache::forOrigin(kPageOrigin).find("card")->pin, "1234");

    page.set("pin", "98765");
    EXPECT_EQ(wipes.size(), 1u) << "the buffer was empty";
    page.set("pin", "1");
    ASSERT_EQ(wipes.size(), 2u);
    EXPECT_EQ(wipes[1], "XXXXX");
}

TEST_F(PinWipeTest, GrowingBufferWipesWhatItLeavesBehind) {
    PinBuffer buffer;
    std::string typed;
    for (int i = 0; i < 200; ++i) {
        buffer.append(static_cast<char>('a' + i % 26));
        typed += static_cast<char>('a' + i % 26);
    }
    EXPECT_EQ(buffer.text(), typed);
    ASSERT_FALSE(wipes.empty()) << "200 characters outgrow the first storage";
    for (const auto& wiped : wipes)
        EXPECT_EQ(wiped, std::string(wiped.size(), 'X'));
    buffer.removeLast();
    EXPECT_EQ(buffer.text(), typed.substr(0, 199));
}

TEST_F(KorvaneAPITest, EchoAndTestEventReachThePageHandlers) {
    // The only test in this program that calls "echo", so the process-wide count starts here.
    Embedded page;
    Embedded other;
    auto onecho = std::make_shared<PageFunction>(page.host);
    auto ontest = std::make_shared<PageFunction>(page.host);
    auto otherEcho = std::make_shared<PageFunction>(other.host);
    page.api->addEventHandler("onecho", onecho);
    page.api->addEventHandler("ontest", ontest);
    other.api->addEventHandler("onecho", otherEcho);

    EXPECT_EQ(page.call("echo", {"hello"}).convert<std::string>(), "hello");
    FB::variant number = page.call("echo", {42});
    EXPECT_TRUE(number.is_of_type<int>());
    EXPECT_EQ(number.convert<int>(), 42);
    EXPECT_TRUE(other.call("echo").is_empty()) << "no argument: an empty value back";

    EXPECT_TRUE(onecho->calls.empty()) << "handlers run on the main thread, later";
    page.host->drain();
    other.host->drain();
    ASSERT_EQ(onecho->calls.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(onecho->calls[i].size(), 2u);
        EXPECT_EQ(onecho->calls[i][0].convert<std::string>(), "So far, you clicked this many times: ");
        EXPECT_TRUE(onecho->calls[i][1].is_of_type<int>());
        EXPECT_EQ(onecho->calls[i][1].convert<int>(), i);
    }
    ASSERT_EQ(otherEcho->calls.size(), 1u);
    EXPECT_EQ(otherEcho->calls[0][1].convert<int>(), 2) << "one count for the whole process";

    page.call("testEvent");
    page.host->drain();
    ASSERT_EQ(ontest->calls.size(), 1u);
    EXPECT_TRUE(ontest->calls[0].empty());
    EXPECT_EQ(onecho->calls.size(), 2u);
}

}  // namespace
