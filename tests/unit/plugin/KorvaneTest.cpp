// The plug-in class, the factory and the identity the browser reads.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KorvaneVersion.h"
#include "PluginTestSupport.h"
#include "ScriptedEngine.h"
#include "core/PluginWindow.h"
#include "plugin/Korvane.h"
#include "plugin/KorvaneAPI.h"
#include "plugin/PluginFactory.h"
#include "plugin/PluginIdentity.h"
#include "signature/PinCache.h"

using namespace plugintest;

namespace {

TEST(PluginIdentityTest, NamesAndDescriptions) {
    EXPECT_EQ(nameOfPlugin(), "Korvane");
    EXPECT_EQ(descriptionForMime("application/x-korvane"), "Brindlemoor plugin para firma digital 1.1");
    EXPECT_EQ(descriptionForMime("application/x-korvane"), "Brindlemoor plugin para firma digital 1.1")
        << "the table is reused";
    EXPECT_EQ(descriptionForMime("Application/X-Korvane"), "") << "exact, case-sensitive";
    EXPECT_EQ(descriptionForMime("application/pdf"), "");
    EXPECT_EQ(descriptionForMime(""), "") << "the empty text after the last ';' is no entry";
    EXPECT_EQ(descriptionForMime("application/x-korvane"), "Brindlemoor plugin para firma digital 1.1")
        << "unknown lookups do not disturb known ones";
}

TEST(PluginFactoryTest, OneFactoryMakingDistinctPlugins) {
    auto factory = processFactory();
    EXPECT_EQ(factory, processFactory());
    EXPECT_NO_THROW(factory->globalPluginInitialize());
    EXPECT_NO_THROW(factory->globalPluginDeinitialize());

    auto a = factory->makePlugin("application/x-korvane");
    auto b = factory->makePlugin("application/x-korvane");
    auto c = factory->makePlugin("text/plain");
    ASSERT_TRUE(a && b && c);
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);
    EXPECT_NE(std::dynamic_pointer_cast<Korvane>(c), nullptr) << "the MIME type is not looked at";
    EXPECT_EQ(a->weak_from_this().lock(), a) << "weak self-reference set";
}

TEST(KorvaneTest, AlwaysWindowedAndOneRootObject) {
    ScriptedEngines engines;
    Embedded page(FB::VariantMap{{"windowless", "true"}});
    EXPECT_FALSE(page.plugin->wantsWindowless());

    EXPECT_NE(std::dynamic_pointer_cast<KorvaneAPI>(page.api), nullptr);
    EXPECT_EQ(page.plugin->getScriptObject(), page.api);
    EXPECT_NE(page.plugin->createScriptObject(), page.api) << "each creation is a new object";
}

// Records which handler each event reached; answers like Korvane itself.
class RecordingKorvane : public Korvane {
  public:
    std::vector<std::string> reached;
    bool onMouseDown(FB::MouseDownEvent* e, FB::PluginWindow* w) override {
        reached.push_back("down");
        return Korvane::onMouseDown(e, w);
    }
    bool onMouseUp(FB::MouseUpEvent* e, FB::PluginWindow* w) override {
        reached.push_back("up");
        return Korvane::onMouseUp(e, w);
    }
    bool onMouseMove(FB::MouseMoveEvent* e, FB::PluginWindow* w) override {
        reached.push_back("move");
        return Korvane::onMouseMove(e, w);
    }
    bool onWindowAttached(FB::AttachedEvent* e, FB::PluginWindow* w) override {
        reached.push_back("attached");
        return Korvane::onWindowAttached(e, w);
    }
    bool onWindowDetached(FB::DetachedEvent* e, FB::PluginWindow* w) override {
        reached.push_back("detached");
        return Korvane::onWindowDetached(e, w);
    }
};

class KeyEvent : public FB::PluginEvent {};

TEST(KorvaneTest, WindowEventsReachTheirHandlersAndAreNotHandled) {
    auto plugin = std::make_shared<RecordingKorvane>();
    FB::PluginWindow window(FB::WindowContext{});
    plugin->setWindow(&window);  // the window greets its new observer
    EXPECT_EQ(plugin->reached, std::vector<std::string>{"attached"});

    FB::MouseDownEvent down(1, 2, FB::MouseEvent::Button::Left);
    FB::MouseUpEvent up(1, 2);
    FB::MouseMoveEvent move(3, 4);
    EXPECT_FALSE(window.sendEvent(&down));
    EXPECT_FALSE(window.sendEvent(&up));
    EXPECT_FALSE(window.sendEvent(&move));
    KeyEvent key;
    EXPECT_FALSE(window.sendEvent(&key));
    plugin->clearWindow();
    EXPECT_EQ(plugin->reached, (std::vector<std::string>{"attached", "down", "up", "move", "detached"}));

    // Not from a plug-in window: nothing reached.
    FB::PluginEventSource notAWindow;
    EXPECT_FALSE(plugin->handleEvent(&down, &notAWindow));
    EXPECT_FALSE(plugin->handleEvent(&down, nullptr));
    EXPECT_EQ(plugin->reached.size(), 5u);
}

TEST(KorvaneTest, DestructionDropsTheApiBeforeReleasingRetainedObjects) {
    ScriptedEngines engines;
    Embedded page;
    page.call("getCertificate", {"x"});  // the API object now owns an engine
    page.host->retainObject(page.plugin->createScriptObject());
    std::size_t retainedWhenApiDied = 99;
    engines.script->onDestroy = [&] { retainedWhenApiDied = page.host->retainedCount(); };

    std::weak_ptr<FB::JSAPI> api = page.api;
    page.api.reset();
    page.plugin.reset();
    EXPECT_TRUE(api.expired());
    EXPECT_EQ(retainedWhenApiDied, 1u);
    EXPECT_EQ(page.host->retainedCount(), 0u);
    EXPECT_TRUE(page.host->isShutDown());
}

TEST(KorvaneTest, ApiHeldByThePageOutlivesThePlugin) {
    ScriptedEngines engines;
    Embedded page(FB::VariantMap{{"CaSubjectNames", "CN=Root"}});
    std::weak_ptr<FB::PluginCore> plugin = page.plugin;
    page.plugin.reset();
    EXPECT_TRUE(plugin.expired()) << "the API object does not keep its plug-in alive";
    EXPECT_EQ(page.text("version"), KORVANE_VERSION);
    page.call("getDigitalSignatureCertificates");
    EXPECT_EQ(engines.script->calls.back(), "list:");
}

std::vector<std::string> wipedPins;
void recordWipe(const std::string& wiped) {
    wipedPins.push_back(wiped);
}

// A page that names no origin gets one of its own; nothing of it stays behind once the instance, and an
// API object the page kept, are gone.
TEST(KorvaneTest, AnUnnamedOriginsPinsGoWithItsInstance) {
    ScriptedEngines engines;
    engines.script->cardPin = "1234";
    PinCache::setWipeObserver(recordWipe);
    wipedPins.clear();
    const std::size_t origins = PinCache::originCount();
    for (bool pageKeepsApi : {false, true}) {
        Embedded page({}, "");
        const std::string origin = std::static_pointer_cast<Korvane>(page.plugin)->pinOrigin();
        ASSERT_TRUE(Korvane::isUnnamedOrigin(origin));
        page.call("signPkcs1", {"card", "h"});
        page.set("pin", "98765");
        page.call("signPkcs1", {"card", "h"});
        ASSERT_EQ(PinCache::forOrigin(origin).size(), 1u);
        page.plugin.reset();
        if (pageKeepsApi)
            page.call("signPkcs1", {"card", "h"});
        page.api.reset();
        EXPECT_EQ(PinCache::originCount(), origins) << pageKeepsApi;
    }
    EXPECT_EQ(wipedPins, (std::vector<std::string>{"XXXXX", "XXXXX"}));
    PinCache::setWipeObserver(nullptr);
}

}  // namespace
