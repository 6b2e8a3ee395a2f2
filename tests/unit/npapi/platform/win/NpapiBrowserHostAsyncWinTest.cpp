// The message-window host inside one process: calls posted from any thread run on the thread that made
// the window, when its message loop runs; the window, its class and the calls still waiting go with the
// host.

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "FakeBrowserTest.h"
#include "SystemServices.h"
#include "npapi/platform/win/NpapiBrowserHostAsyncWin.h"

namespace FB::Npapi {
namespace {

struct Probe {
    int runs = 0;
    std::thread::id thread;
};

void record(void* data) {
    auto* probe = static_cast<Probe*>(data);
    ++probe->runs;
    probe->thread = std::this_thread::get_id();
}

class NpapiBrowserHostAsyncWinTest : public FakeBrowserTest {
  protected:
    void SetUp() override {
        module = NpapiPluginModule::acquire();
        module->takeBrowserTable(*browser.funcs());
        npp = browser.createInstance();
        host = std::make_shared<NpapiBrowserHostAsyncWin>(module, npp);
        host->takeBrowserTable(&module->funcs());
    }
    void TearDown() override {
        if (host) {
            host->shutdown();
            host.reset();
        }
        browser.destroyInstance(npp);
        NpapiPluginModule::release();
        FakeBrowserTest::TearDown();
    }

    NpapiPluginModule* module = nullptr;
    NPP npp = nullptr;
    std::shared_ptr<NpapiBrowserHostAsyncWin> host;
};

TEST_F(NpapiBrowserHostAsyncWinTest, CallsPostedFromAnyThreadRunInTheMessageLoop) {
    Probe probe;
    bool posted = false;
    std::thread worker([&] { posted = host->postToMainThread(&record, &probe); });
    worker.join();
    ASSERT_TRUE(posted);
    EXPECT_EQ(probe.runs, 0) << "nothing runs before the loop does";
    EXPECT_EQ(testsys::runMessageLoop(), 1u);
    EXPECT_EQ(probe.runs, 1);
    EXPECT_EQ(probe.thread, std::this_thread::get_id());
    EXPECT_EQ(browser.runPostedCalls(), 0u) << "the browser's own posting is not used";

    // Unlike the plain host, this one still posts after shutdown, until it is destroyed.
    host->shutdown();
    ASSERT_TRUE(host->postToMainThread(&record, &probe));
    testsys::runMessageLoop();
    EXPECT_EQ(probe.runs, 2);
}

TEST_F(NpapiBrowserHostAsyncWinTest, TheWindowItsClassAndWaitingCallsGoWithTheHost) {
    ASSERT_EQ(WinMessageWindow::windowCount(), 1u);
    const HWND window = host->messageWindow();
    wchar_t className[64] = {};
    ASSERT_GT(GetClassNameW(window, className, 64), 0);
    EXPECT_EQ(std::wstring(className).rfind(L"FBEventWindow", 0), 0u);

    Probe probe;
    ASSERT_TRUE(host->postToMainThread(&record, &probe));
    host->shutdown();
    host.reset();
    EXPECT_EQ(testsys::runMessageLoop(), 0u);
    EXPECT_EQ(probe.runs, 0) << "a call still waiting is dropped with the host";
    EXPECT_EQ(WinMessageWindow::windowCount(), 0u);
    EXPECT_FALSE(IsWindow(window));
    WNDCLASSEXW info{};
    info.cbSize = sizeof(info);
    EXPECT_FALSE(GetClassInfoExW(WinMessageWindow::moduleInstance(), className, &info));
}

}  // namespace
}  // namespace FB::Npapi
