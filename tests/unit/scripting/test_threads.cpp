// Scriptable objects used from two threads at once: a worker fires events and registers members
// while the main thread calls, enumerates and reads. Run under ThreadSanitizer by the tsan preset.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "scripting/JSAPIAuto.h"
#include "scripting/JSObject.h"

namespace {

class LockedHost : public FB::ScriptHost {
  public:
    bool scheduleOnMainThread(std::function<void()> call) override {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(call));
        return true;
    }
    std::size_t drain() {
        std::vector<std::function<void()>> calls;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            calls.swap(queue_);
        }
        for (auto& call : calls) {
            call();
        }
        return calls.size();
    }

  private:
    std::mutex mutex_;
    std::vector<std::function<void()>> queue_;
};

// A page function that counts its calls; only the main thread calls it.
class Counter : public FB::JSObject {
  public:
    using FB::JSObject::JSObject;
    void invalidate() override {}
    void listMemberNames(std::vector<std::string>& names) override { names.clear(); }
    std::size_t countMembers() override { return 0; }
    bool hasMethod(const std::string&) override { return false; }
    bool hasProperty(int) override { return false; }
    bool hasProperty(const std::string&) override { return false; }
    FB::variant getProperty(int) override { return {}; }
    FB::variant getProperty(const std::string&) override { return {}; }
    void setProperty(int, const FB::variant&) override {}
    void setProperty(const std::string&, const FB::variant&) override {}
    void removeProperty(int) override {}
    void removeProperty(const std::string&) override {}
    FB::variant invoke(const std::string&, const FB::VariantList&) override {
        ++calls;
        return {};
    }
    FB::variant construct(const FB::VariantList&) override { return {}; }
    bool isValid() const override { return true; }
    FB::JSAPIPtr getWrappedAPI() const override { return {}; }

    int calls = 0;
};

class Api : public FB::JSAPIAuto {
  public:
    Api() { addMethod("ping", FB::bindMethod(this, &Api::ping)); }
    std::string ping(const std::string& s) {
        fireEvent("onping", {s});
        return s;
    }
};

}  // namespace

TEST(ScriptingThreads, WorkerFiresAndRegistersWhileTheMainThreadCalls) {
    auto host = std::make_shared<LockedHost>();
    auto api = std::make_shared<Api>();
    auto handler = std::make_shared<Counter>(host);
    api->addEventHandler("onping", handler);
    api->addEventHandler("ontick", handler);

    constexpr int rounds = 300;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < rounds; ++i) {
            api->fireEvent("ontick", {i});
            api->addAttribute("attr" + std::to_string(i % 10), i, false);
            api->addMethod("dyn", FB::bindMethod(api.get(), &Api::ping));
            api->removeMethod("dyn");
        }
        done = true;
    });
    std::size_t delivered = 0;
    int calls = 0;
    while (!done || calls < rounds) {
        if (calls < rounds) {
            EXPECT_EQ(api->invoke("ping", {"x"}).get<std::string>(), "x");
            std::vector<std::string> names;
            api->listMemberNames(names);
            EXPECT_GE(names.size(), 6u);
            (void)api->getProperty("attr3");
            ++calls;
        }
        delivered += host->drain();
    }
    worker.join();
    delivered += host->drain();
    EXPECT_EQ(delivered, static_cast<std::size_t>(2 * rounds));
    EXPECT_EQ(handler->calls, 2 * rounds);
}
