// korvane-host as a browser starts it: the callers it refuses, its framed hello on its real standard
// output, standard streams that pass every byte unchanged, and its exit statuses.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HostPipe.h"
#include "KorvaneVersion.h"
#include "SystemServices.h"

using namespace messagingtest;

namespace {

const std::string kProgram = KORVANE_HOST_PROGRAM;

std::string chromiumCaller() {
    return "chrome-extension://" + *HostSetup::allowedCallers().chromiumIds.begin() + "/";
}

TEST(HostProgramTest, VersionAndTheCallersItRefuses) {
    const testsys::ProcessResult version = testsys::runProcess({kProgram, "--version"});
    EXPECT_EQ(version.status, 0);
    // A console line: Windows ends it with CR LF.
    EXPECT_TRUE(version.output == "korvane-host " KORVANE_VERSION "\n" ||
                version.output == "korvane-host " KORVANE_VERSION "\r\n")
        << version.output;

    struct Case {
        std::vector<std::string> args;
        int status;
    };
    for (const Case& c : std::vector<Case>{{{"chrome-extension://aaaabbbbccccddddeeeeffffgggghhhh/"}, 1},
                                           {{}, 1},
                                           {{"--bogus", chromiumCaller()}, 2}}) {
        std::vector<std::string> argv{kProgram};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(testsys::runProcess(argv).status, c.status) << ::testing::PrintToString(c.args);
    }
}

TEST(HostProgramTest, ServesEachBrowserOverBinaryStreams) {
    const std::vector<std::vector<std::string>> callers{
        {chromiumCaller()},
        {"/x/eu.brindlemoor.korvane.json", *HostSetup::allowedCallers().geckoIds.begin()}};
    for (const auto& args : callers) {
        HostPipe host(kProgram, args);
        host.receive();
        EXPECT_EQ(host.lastBody, R"({"protocol":1,"type":"hello","version":")" KORVANE_VERSION R"("})");
        EXPECT_EQ(host.finish(), 0) << "input ended between messages";
    }

    // Text-mode streams would end the input at 0x1A, drop the CR of CR LF and write LF as CR LF; each
    // of those bytes appears here in a length prefix or a body.
    HostPipe host(kProgram, callers[0]);
    host.receive();
    const std::string ctrlZ = "{\"id\":1,\"type\":\"fly\"}     ";
    ASSERT_EQ(ctrlZ.size(), 0x1Au);
    host.sendFrame(ctrlZ);
    EXPECT_EQ(host.receive()["id"], 1);
    ASSERT_EQ(faultOf(host.open()), "");

    const std::string head = R"({"id":9,"origin":"https://a.example","type":"invoke","member":"echo",)"
                             "\r\n"
                             R"("args":[")";
    const std::string tail = R"("]})";
    host.sendFrame(head + std::string(0x0A0D - head.size() - tail.size(), 'x') + tail);
    EXPECT_EQ(host.receive()["result"].get<std::string>().size(), 0x0A0D - head.size() - tail.size());
    host.receive();  // its event

    host.invoke("echo", {"x"});
    const std::size_t overhead = host.lastBody.size() - 1;
    host.receive();
    json echoed = host.invoke("echo", {std::string(0x0A0A - overhead, 'y')});
    EXPECT_EQ(host.lastBody.size(), 0x0A0Au);
    EXPECT_EQ(echoed["result"].get<std::string>().size(), 0x0A0A - overhead);
    EXPECT_EQ(host.finish(), 0);
}

}  // namespace
