// Values between JSON and the scripting core, and the arguments a browser starts the host with.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "HostArguments.h"
#include "HostSetup.h"
#include "messaging/JsonVariant.h"
#include "scripting/JSObject.h"

using FB::JsonVariant;
using nlohmann::json;

TEST(JsonVariantTest, ValuesKeepTheirKindBothWays) {
    const json input =
        json::parse(R"({"n":null,"t":true,"i":-7,"big":9007199254740993,"huge":18446744073709551615,
        "f":2.5,"s":"\u00f1 \u2713","l":[1,[2,"x"],{}],"m":{"k":false}})");
    const FB::variant value = JsonVariant::toVariant(input);
    const auto& map = value.get<FB::VariantMap>();
    EXPECT_TRUE(map.at("n").is_null());
    EXPECT_TRUE(map.at("i").is_of_type<int>());
    EXPECT_TRUE(map.at("big").is_of_type<long long>());
    EXPECT_TRUE(map.at("huge").is_of_type<double>());
    EXPECT_EQ(map.at("s").get<std::string>(), "\xC3\xB1 \xE2\x9C\x93");
    EXPECT_EQ(map.at("l").get<FB::VariantList>().size(), 3u);

    json back = JsonVariant::toJson(value);
    back.erase("huge");
    json expected = input;
    expected.erase("huge");
    EXPECT_EQ(back, expected);

    EXPECT_TRUE(JsonVariant::toJson(FB::variant()).is_null());
    EXPECT_TRUE(JsonVariant::toJson(std::numeric_limits<double>::quiet_NaN()).is_null());
    EXPECT_EQ(JsonVariant::toJson(std::wstring(L"\u00e9")), "\xC3\xA9");
    EXPECT_EQ(JsonVariant::toJson(4000000000u), 4000000000u);
    EXPECT_THROW(JsonVariant::toJson(FB::JSObjectPtr()), std::invalid_argument);
}

TEST(HostArgumentsTest, OnlyTheExtensionsTheHostWasBuiltFor) {
    const HostArguments::Allowed allowed = HostSetup::allowedCallers();
    const std::string chromium = "chrome-extension://" + *allowed.chromiumIds.begin() + "/";
    const std::string gecko = *allowed.geckoIds.begin();
    struct Case {
        std::vector<std::string> args;
        bool allowed;
    };
    for (const Case& c : std::vector<Case>{
             {{chromium}, true},
             {{chromium, "--parent-window=0"}, true},
             {{"/usr/lib/mozilla/native-messaging-hosts/eu.brindlemoor.korvane.json", gecko}, true},
             {{}, false},
             {{"chrome-extension://aaaabbbbccccddddeeeeffffgggghhhh/"}, false},
             {{chromium.substr(0, chromium.size() - 1)}, false},
             {{chromium + "x"}, false},
             {{"/path/manifest.json", "other@example.org"}, false},
             {{gecko}, false},
             {{chromium, "/path/manifest.json", gecko}, false},
         }) {
        EXPECT_EQ(HostArguments(c.args).callerAllowed(allowed), c.allowed)
            << ::testing::PrintToString(c.args);
    }
    const HostArguments withOptions({"--allow-loopback", chromium, "--frobnicate"});
    EXPECT_TRUE(withOptions.allowLoopback());
    EXPECT_EQ(withOptions.unknownOption(), "--frobnicate");
    EXPECT_FALSE(HostArguments({chromium}).allowLoopback());
}
