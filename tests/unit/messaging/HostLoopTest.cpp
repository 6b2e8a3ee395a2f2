// The host's loop over pipes, as a browser drives it, with the signing plug-in over a scripted engine.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "HostPipe.h"
#include "KorvaneVersion.h"
#include "ScriptedEngine.h"

using namespace messagingtest;
using plugintest::ScriptedEngines;

namespace {

class HostLoopTest : public ::testing::Test {
  protected:
    ScriptedEngines engines;
    plugintest::Script& script = *engines.script;
};

TEST_F(HostLoopTest, HelloFirstThenASessionAnswersWithItsState) {
    HostPipe host;
    EXPECT_EQ(host.receive(), json({{"type", "hello"}, {"version", KORVANE_VERSION}, {"protocol", 1}}));

    json opened = host.open({{"CaSubjectNames", "CN=Root A"}});
    EXPECT_EQ(faultOf(opened), "");
    EXPECT_EQ(opened["id"], 1);
    const json state = opened["state"];
    for (const char* member : {"version", "lastError", "lastLowLevelError", "lastErrorMessage", "pinLength",
                               "isPinMissing", "isPinInvalid", "pinModuleName", "pinRetryCount"})
        EXPECT_TRUE(state.contains(member)) << member;
    EXPECT_EQ(state["version"], KORVANE_VERSION);

    script.listing = "Issuer|Subject|Id-AQ==";
    EXPECT_EQ(host.invoke("getDigitalSignatureCertificates")["result"], "Issuer|Subject|Id-AQ==");
    EXPECT_EQ(script.calls.back(), "list:CN=Root A") << "the page's parameter reached the engine";

    EXPECT_EQ(faultOf(host.set("testString", "ñandú ✓")), "");
    EXPECT_EQ(host.get("testString")["result"], "ñandú ✓");

    // A refusal is a value with the error state, as in the plug-in.
    script.error = ErrorCode::CertificateNotFound;
    json refused = host.invoke("getCertificate", {"nope"});
    EXPECT_EQ(faultOf(refused), "");
    EXPECT_EQ(refused["result"], "");
    EXPECT_EQ(refused["state"]["lastError"], 2);

    // Events leave after the reply.
    json echoed = host.invoke("echo", json::array({{{"n", 1}, {"list", {true, nullptr, 2.5}}}}));
    EXPECT_EQ(echoed["result"], json({{"n", 1}, {"list", {true, nullptr, 2.5}}}));
    json event = host.receive();
    EXPECT_EQ(event["type"], "event");
    EXPECT_EQ(event["name"], "onecho");
    EXPECT_EQ(event["args"][0], "So far, you clicked this many times: ");

    EXPECT_FALSE(host.request({{"type", "close"}}).contains("state"));
    EXPECT_EQ(faultOf(host.get("version")), "no_session");
    EXPECT_EQ(host.finish(), 0);
}

TEST_F(HostLoopTest, BrokenMessagesAreAnsweredAndTheConnectionGoesOn) {
    HostPipe host;
    host.receive();
    const std::string oversized(65537, ' ');
    for (const std::string& body :
         {std::string(), std::string("{\"id\":1,\"origin\""), std::string("not json"), std::string("[1,2]"),
          std::string("{\"id\":\"1\",\"type\":\"get\"}"),
          std::string("{\"id\":1,\"type\":\"get\",\"member\":\"\xFF\"}"), oversized}) {
        host.sendFrame(body);
        json reply = host.receive();
        EXPECT_EQ(faultOf(reply), body.size() > 65536 ? "too_large" : "malformed") << body.substr(0, 40);
        EXPECT_TRUE(reply["id"].is_null());
    }
    // Exactly the limit is read as a request (and is no JSON object).
    host.sendFrame(std::string(65535, ' ') + "1");
    EXPECT_EQ(faultOf(host.receive()), "malformed");

    EXPECT_EQ(faultOf(host.get("version")), "no_session") << "still serving";
    EXPECT_EQ(faultOf(host.request({{"type", "fly"}})), "malformed");
    EXPECT_EQ(faultOf(host.request({{"type", "get"}})), "malformed") << "no member";
    host.open();
    json deep = json::array();
    for (int i = 0; i < 100; ++i)
        deep = json::array({deep});
    EXPECT_EQ(faultOf(host.invoke("echo", deep)), "malformed");
    EXPECT_EQ(faultOf(host.request({{"type", "invoke"}, {"member", "echo"}, {"args", "x"}})), "malformed");
    EXPECT_EQ(faultOf(host.request({{"type", "set"}, {"member", "pin"}})), "malformed") << "no value";
    EXPECT_EQ(faultOf(host.request({{"type", "open"}, {"params", {{"CaSubjectNames", 5}}}})), "malformed");

    // A message cut short by the end of the input: answered, and the host ends with status 1.
    host.sendRaw(std::string("\x64\x00\x00\x00{\"id\":", 10));
    EXPECT_EQ(host.finish(), 1);
    EXPECT_EQ(faultOf(json::parse(host.lastBody)), "malformed");
}

TEST_F(HostLoopTest, MembersAndArgumentsTheObjectRefuses) {
    HostPipe host;
    host.receive();
    host.open();
    for (const json& reply : {host.invoke("noSuchMethod"), host.get("noSuchProperty"), host.set("nope", 1),
                              host.invoke("version"), host.get("signPkcs1")}) {
        EXPECT_EQ(faultOf(reply), "unknown_member") << reply;
        EXPECT_TRUE(reply.contains("state")) << "a session exists";
    }
    json bad = host.invoke("signPkcs1", {"only id"});
    EXPECT_EQ(faultOf(bad), "script_error");
    EXPECT_FALSE(bad["error"]["message"].get<std::string>().empty());
    EXPECT_TRUE(script.calls.empty()) << "bad arguments never reach the engine";
    EXPECT_EQ(faultOf(host.invoke("echo", {"fine"})), "");
}

TEST_F(HostLoopTest, OriginMustBeHttpsOrAllowedLoopbackAndStaysPinned) {
    {
        HostPipe host;
        host.receive();
        for (const char* origin : {"", "http://127.0.0.1:8765", "http://localhost", "https://a.example/",
                                   "https://A.example", "https://a.example:443", "file://", "null"}) {
            host.origin = origin;
            EXPECT_EQ(faultOf(host.open()), "bad_origin") << origin;
        }
        host.sendFrame(R"({"id":9,"type":"open","params":{}})");
        EXPECT_EQ(faultOf(host.receive()), "bad_origin") << "no origin at all";

        host.origin = "https://a.example:8443";
        EXPECT_EQ(faultOf(host.open()), "") << "the first good origin is pinned";
        host.origin = "https://b.example";
        EXPECT_EQ(faultOf(host.get("version")), "origin_changed");
        EXPECT_EQ(faultOf(host.open()), "origin_changed");
        host.origin = "https://a.example:8443";
        EXPECT_EQ(host.get("version")["result"], KORVANE_VERSION) << "the pinned page's session goes on";
    }
    HostPipe loopback(HostSetup::options(true));
    loopback.receive();
    loopback.origin = "http://evil.example";
    EXPECT_EQ(faultOf(loopback.open()), "bad_origin") << "only loopback pages lose https";
    for (const char* origin : {"http://127.0.0.1:8765", "http://[::1]:8080"}) {
        HostPipe host(HostSetup::options(true));
        host.receive();
        host.origin = origin;
        EXPECT_EQ(faultOf(host.open()), "") << origin;
    }
}

TEST_F(HostLoopTest, NoMessageExceedsTheBrowsersLimit) {
    HostPipe host;
    host.receive();
    host.open();
    // The reply grows byte for byte with the listing: find the listing that makes it exactly 1 MiB.
    script.listing = "x";
    host.invoke("getDigitalSignatureCertificates");
    const std::size_t overhead = host.lastBody.size() - 1;
    script.listing.assign(1048576 - overhead, 'x');
    json fits = host.invoke("getDigitalSignatureCertificates");
    EXPECT_EQ(faultOf(fits), "");
    EXPECT_EQ(host.largestFrame, 1048576u);

    script.listing += "x";
    json tooLarge = host.invoke("getDigitalSignatureCertificates");
    EXPECT_EQ(faultOf(tooLarge), "reply_too_large");
    EXPECT_EQ(tooLarge["state"]["version"], KORVANE_VERSION);
    EXPECT_EQ(host.largestFrame, 1048576u);
    EXPECT_EQ(host.get("version")["result"], KORVANE_VERSION);
}

std::vector<std::string> wipedPins;
void recordWipe(const std::string& wiped) {
    wipedPins.push_back(wiped);
}

TEST_F(HostLoopTest, APageCannotHandOverAPin) {
    HostPipe host;
    host.receive();
    host.open();
    for (const json& reply : {host.invoke("processPinChar", {"1"}), host.invoke("deletePinChar"),
                              host.set("pin", "1234"), host.set("pin", 1234)}) {
        EXPECT_EQ(faultOf(reply), "pin_in_page") << reply;
        EXPECT_NE(reply["error"]["message"].get<std::string>().find("own window"), std::string::npos);
        EXPECT_EQ(reply["state"]["pinLength"], 0);
    }
    EXPECT_EQ(faultOf(host.set("pin", "")), "") << "clearing still works";
    EXPECT_EQ(script.calls, std::vector<std::string>{"clearPins"});
}

TEST_F(HostLoopTest, TheExtensionDescribesAndSignsOncePerPin) {
    script.cardPin = "1234";
    script.signature = "c2lnbmVk";
    script.needsPin = true;
    PinCache::setWipeObserver(recordWipe);
    wipedPins.clear();
    HostPipe host;
    host.receive();
    const std::string sha256 = "WlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlpaWlo=";
    auto sign = [&](const json& pin) {
        json request = {{"type", "sign"}, {"certificate", "card"}, {"hash", sha256}};
        if (!pin.is_null())
            request["pin"] = pin;
        return host.request(request);
    };
    EXPECT_EQ(faultOf(sign("1234")), "no_session");
    host.open();

    std::string hex;
    for (int i = 0; i < 32; ++i)
        hex += "5a";
    json described = host.request({{"type", "describe"}, {"certificate", "card"}, {"hash", sha256}});
    EXPECT_EQ(described["result"], json({{"subject", "CN=Subject of card"},
                                         {"issuer", "CN=Issuer"},
                                         {"algorithm", "SHA-256"},
                                         {"hash", hex},
                                         {"needsPin", true},
                                         {"pinState", "unknown"}}));
    json badLength = host.request({{"type", "describe"}, {"certificate", "card"}, {"hash", "aGFzaA=="}});
    EXPECT_EQ(faultOf(badLength), "");
    EXPECT_TRUE(badLength["result"].is_null());
    EXPECT_EQ(badLength["state"]["lastError"], 3);

    // A wrong PIN, and the same one again: the card sees it once (one retry counted).
    for (int attempt = 0; attempt < 2; ++attempt) {
        json wrong = sign("99999");
        EXPECT_EQ(wrong["result"], "");
        EXPECT_EQ(wrong["state"]["lastError"], 5);
        EXPECT_EQ(wrong["state"]["isPinInvalid"], true);
        EXPECT_EQ(wrong["state"]["pinRetryCount"], 1);
    }
    EXPECT_EQ(faultOf(sign(1234)), "malformed");

    // The right PIN signs once; the PIN is wiped and the next signature asks for it again.
    wipedPins.clear();
    json signedReply = sign("1234");
    EXPECT_EQ(signedReply["result"], "c2lnbmVk");
    EXPECT_EQ(signedReply["state"]["lastError"], 0);
    EXPECT_NE(std::find(wipedPins.begin(), wipedPins.end(), "XXXX"), wipedPins.end());
    json again = sign(nullptr);
    EXPECT_EQ(again["result"], "");
    EXPECT_EQ(again["state"]["lastError"], 11);
    EXPECT_EQ(again["state"]["isPinMissing"], true);
    EXPECT_EQ(again["state"]["pinModuleName"], "card");
    EXPECT_EQ(host.invoke("signPkcs1", {"card", sha256})["state"]["lastError"], 11)
        << "nor does the page's own call find a PIN";
    PinCache::setWipeObserver(nullptr);
}

}  // namespace
