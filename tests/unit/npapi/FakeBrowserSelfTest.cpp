// FakeBrowser's own behaviour, as the adapter's tests rely on it: reference counting and the leak
// and over-release reports, identifiers, memory, the page model, the page call function and its
// timers, dispatch to plug-in classes, instances, version gating and the posted-call queue.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "FakeBrowserTest.h"

using namespace FB::Npapi;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

// A plug-in script object as a plug-in would write it, counting what the browser did to it.
struct Probe : NPObject {
    static inline int deallocated = 0;
    static inline int invalidated = 0;
    static NPClass record;

    static NPObject* allocate(NPP, NPClass*) { return new Probe; }
    static void deallocate(NPObject* object) {
        ++deallocated;
        delete static_cast<Probe*>(object);
    }
    static void invalidate(NPObject*) { ++invalidated; }
    static std::string name(NPIdentifier id) {
        NPUTF8* text = FakeBrowser::current()->funcs()->utf8fromidentifier(id);
        std::string result = text ? text : "";
        FakeBrowser::current()->funcs()->memfree(text);
        return result;
    }
    static bool hasMethod(NPObject*, NPIdentifier id) { return name(id) == "twice" || name(id) == "fail"; }
    static bool invoke(NPObject* self, NPIdentifier id, const NPVariant* args, uint32_t count,
                       NPVariant* result) {
        if (name(id) == "fail") {
            FakeBrowser::current()->funcs()->setexception(self, "probe failed");
            return false;
        }
        if (count != 1 || !NPVARIANT_IS_INT32(args[0])) {
            return false;
        }
        INT32_TO_NPVARIANT(2 * NPVARIANT_TO_INT32(args[0]), *result);
        return true;
    }
    static bool invokeDefault(NPObject*, const NPVariant*, uint32_t count, NPVariant* result) {
        INT32_TO_NPVARIANT(static_cast<int32_t>(count), *result);
        return true;
    }
    static bool hasProperty(NPObject*, NPIdentifier id) { return name(id) == "answer"; }
    static bool getProperty(NPObject*, NPIdentifier id, NPVariant* result) {
        if (name(id) != "answer") {
            return false;
        }
        // Text handed to the browser must come from NPN_MemAlloc.
        auto* text = static_cast<char*>(FakeBrowser::current()->funcs()->memalloc(3));
        std::memcpy(text, "42", 3);
        STRINGN_TO_NPVARIANT(text, 2, *result);
        return true;
    }
    static bool enumerate(NPObject*, NPIdentifier** ids, uint32_t* count) {
        NPNetscapeFuncs* f = FakeBrowser::current()->funcs();
        *ids = static_cast<NPIdentifier*>(f->memalloc(2 * sizeof(NPIdentifier)));
        (*ids)[0] = f->getstringidentifier("answer");
        (*ids)[1] = f->getintidentifier(7);
        *count = 2;
        return true;
    }
};

NPClass Probe::record = {NP_CLASS_STRUCT_VERSION,
                         &Probe::allocate,
                         &Probe::deallocate,
                         &Probe::invalidate,
                         &Probe::hasMethod,
                         &Probe::invoke,
                         &Probe::invokeDefault,
                         &Probe::hasProperty,
                         &Probe::getProperty,
                         nullptr,
                         nullptr,
                         &Probe::enumerate,
                         nullptr};

class FakeBrowserSelf : public FakeBrowserTest {
  protected:
    void SetUp() override {
        Probe::deallocated = 0;
        Probe::invalidated = 0;
        npp = browser.createInstance();
    }
    NPObject* newProbe() { return f->createobject(npp, &Probe::record); }

    NPNetscapeFuncs* f = browser.funcs();
    NPP npp = nullptr;
};

TEST_F(FakeBrowserSelf, CountsReferencesAndDeallocatesAtZero) {
    NPObject* probe = newProbe();
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe->_class, &Probe::record);
    EXPECT_EQ(browser.refCount(probe), 1);
    EXPECT_EQ(f->retainobject(probe), probe);
    EXPECT_EQ(browser.refCount(probe), 2);
    EXPECT_EQ(probe->referenceCount, 2u);
    f->releaseobject(probe);
    EXPECT_EQ(Probe::deallocated, 0);
    f->releaseobject(probe);
    EXPECT_EQ(Probe::deallocated, 1);
    EXPECT_FALSE(browser.isAlive(probe));
    EXPECT_EQ(browser.refCount(probe), -1);
}

TEST(FakeBrowserReport, ReportsLeaksOverReleasesAndUnfreedMemory) {
    NPObject* leaked = nullptr;
    {
        FakeBrowser browser;
        NPNetscapeFuncs* f = browser.funcs();
        NPP npp = browser.createInstance();
        leaked = f->createobject(npp, &Probe::record);
        f->retainobject(leaked);

        NPObject* twice = f->createobject(npp, &Probe::record);
        f->releaseobject(twice);
        f->releaseobject(twice);  // over-release: recorded, the freed memory is not touched

        NPObject* window = nullptr;
        ASSERT_EQ(f->getvalue(npp, NPNVWindowNPObject, &window), NPERR_NO_ERROR);  // never released
        f->memalloc(10);
        int local = 0;
        f->memfree(&local);

        std::vector<std::string> report = browser.check();
        ASSERT_EQ(report.size(), 5u) << ::testing::PrintToString(report);
        EXPECT_THAT(report[0], HasSubstr("over-release"));
        EXPECT_THAT(report[1], HasSubstr("NPN_MemFree of a block"));
        EXPECT_THAT(report, testing::Contains(HasSubstr("leaked window")));
        EXPECT_THAT(report, testing::Contains(HasSubstr("leaked plug-in object #")));
        EXPECT_THAT(report, testing::Contains(HasSubstr("with 2 reference(s)")));
        EXPECT_THAT(report.back(), HasSubstr("1 block(s) from NPN_MemAlloc never freed (10 bytes)"));
        EXPECT_EQ(browser.check(), report);  // the report is final
    }
    // The fake does not free a leaked plug-in object: that is the plug-in's memory.
    Probe::deallocate(leaked);
}

TEST_F(FakeBrowserSelf, ObjectsNeverCreatedOrAlreadyFreedAreProblemsNotCrashes) {
    NPObject stranger{&Probe::record, 1};
    f->retainobject(&stranger);
    f->releaseobject(&stranger);
    NPObject* probe = newProbe();
    f->releaseobject(probe);
    NPVariant result;
    EXPECT_FALSE(f->invoke(npp, probe, f->getstringidentifier("twice"), nullptr, 0, &result));
    EXPECT_TRUE(NPVARIANT_IS_VOID(result));
    EXPECT_THAT(browser.problems(),
                ElementsAre(HasSubstr("NPN_RetainObject of an object the browser never created"),
                            HasSubstr("NPN_ReleaseObject of an object the browser never created"),
                            HasSubstr("NPN_Invoke on freed plug-in object")));
    browser.clearProblems();
}

TEST_F(FakeBrowserSelf, IdentifiersAreInternedAndRoundTrip) {
    NPIdentifier name = f->getstringidentifier("signPkcs1");
    EXPECT_EQ(f->getstringidentifier("signPkcs1"), name);
    EXPECT_NE(f->getstringidentifier("signpkcs1"), name);
    EXPECT_TRUE(f->identifierisstring(name));
    NPUTF8* text = f->utf8fromidentifier(name);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "signPkcs1");
    f->memfree(text);  // the text is the plug-in's, from NPN_MemAlloc

    NPIdentifier number = f->getintidentifier(-3);
    EXPECT_EQ(f->getintidentifier(-3), number);
    EXPECT_FALSE(f->identifierisstring(number));
    EXPECT_EQ(f->intfromidentifier(number), -3);
    EXPECT_EQ(f->utf8fromidentifier(number), nullptr);
    EXPECT_EQ(f->intfromidentifier(name), 0);

    const NPUTF8* names[] = {"a", "signPkcs1", nullptr};
    NPIdentifier ids[3];
    f->getstringidentifiers(names, 3, ids);
    EXPECT_EQ(ids[1], name);
    EXPECT_EQ(ids[0], browser.stringIdentifier("a"));
    EXPECT_EQ(ids[2], nullptr);

    int garbage = 0;
    EXPECT_FALSE(f->identifierisstring(&garbage));
    EXPECT_THAT(browser.problems(), ElementsAre(HasSubstr("identifier the browser never made")));
    browser.clearProblems();
}

TEST_F(FakeBrowserSelf, WindowConstructorsMakeArraysThatPushAndCount) {
    NPObject* window = nullptr;
    ASSERT_EQ(f->getvalue(npp, NPNVWindowNPObject, &window), NPERR_NO_ERROR);
    EXPECT_EQ(window, browser.window());
    NPVariant array;
    ASSERT_TRUE(f->invoke(npp, window, f->getstringidentifier("Array"), nullptr, 0, &array));
    ASSERT_TRUE(NPVARIANT_IS_OBJECT(array));
    NPObject* list = NPVARIANT_TO_OBJECT(array);

    NPVariant args[2];
    INT32_TO_NPVARIANT(5, args[0]);
    STRINGZ_TO_NPVARIANT("five", args[1]);
    NPVariant pushed;
    ASSERT_TRUE(f->invoke(npp, list, f->getstringidentifier("push"), &args[0], 1, &pushed));
    EXPECT_EQ(NPVARIANT_TO_INT32(pushed), 1);
    ASSERT_TRUE(f->invoke(npp, list, f->getstringidentifier("push"), &args[1], 1, &pushed));
    EXPECT_EQ(NPVARIANT_TO_INT32(pushed), 2);

    NPVariant length;
    ASSERT_TRUE(f->getproperty(npp, list, f->getstringidentifier("length"), &length));
    EXPECT_EQ(NPVARIANT_TO_INT32(length), 2);
    NPVariant second;
    ASSERT_TRUE(f->getproperty(npp, list, f->getintidentifier(1), &second));
    EXPECT_EQ(PageValue::take(second), PageValue("five"));
    ASSERT_TRUE(f->getproperty(npp, list, f->getstringidentifier("0"), &second));  // "0" names the index too
    EXPECT_EQ(PageValue::take(second), PageValue(5));
    EXPECT_THAT(*browser.arrayElements(list), ElementsAre(PageValue(5), PageValue("five")));

    NPVariant object;
    ASSERT_TRUE(f->invoke(npp, window, f->getstringidentifier("Object"), nullptr, 0, &object));
    NPVariant one;
    INT32_TO_NPVARIANT(1, one);
    f->setproperty(npp, NPVARIANT_TO_OBJECT(object), f->getstringidentifier("b"), &one);
    f->setproperty(npp, NPVARIANT_TO_OBJECT(object), f->getstringidentifier("a"), &one);
    f->setproperty(npp, NPVARIANT_TO_OBJECT(object), f->getstringidentifier("b"), &one);
    EXPECT_THAT(browser.propertyNames(NPVARIANT_TO_OBJECT(object)), ElementsAre("b", "a"));

    f->releasevariantvalue(&object);
    f->releasevariantvalue(&array);
    f->releaseobject(window);
}

TEST_F(FakeBrowserSelf, PageObjectsAnswerLikeScript) {
    NPObject* window = browser.window();
    EXPECT_TRUE(browser.getProperty(window, "document").value == PageValue(browser.document()));
    EXPECT_TRUE(browser.getProperty(window, "nothing").ok);
    EXPECT_TRUE(browser.getProperty(window, "nothing").value.isVoid());
    EXPECT_TRUE(browser.hasMethod(window, "Array"));
    EXPECT_FALSE(browser.hasMethod(window, "document"));
    EXPECT_FALSE(browser.invoke(window, "document").ok);  // not a function

    PageValue log = browser.getProperty(window, "console").value;
    EXPECT_TRUE(browser.invoke(log.asObject(), "log", {"Logging:", 3, 0.5, true, nullptr, PageValue()}).ok);
    EXPECT_THAT(browser.consoleLines(), ElementsAre("Logging: 3 0.5 true null undefined"));

    PageValue array = browser.newArray({1, 2, 3});
    EXPECT_TRUE(browser.setProperty(array.asObject(), "length", 1).ok);
    EXPECT_THAT(*browser.enumerate(array.asObject()), ElementsAre("0"));
    EXPECT_TRUE(browser.setProperty(array.asObject(), 2, "x").ok);
    EXPECT_THAT(*browser.arrayElements(array.asObject()),
                ElementsAre(PageValue(1), PageValue(), PageValue("x")));
}

TEST_F(FakeBrowserSelf, TestFunctionsReceiveArgumentsAndMayThrow) {
    std::vector<PageValue> seen;
    PageValue handler = browser.newFunction("handler", [&](NPObject*, const std::vector<PageValue>& args) {
        seen = args;
        if (args.empty()) {
            throw FakeBrowser::ScriptError("no arguments");
        }
        return PageValue("done");
    });
    NPVariant arg;
    INT32_TO_NPVARIANT(9, arg);
    NPVariant result;
    ASSERT_TRUE(f->invokeDefault(npp, handler.asObject(), &arg, 1, &result));
    EXPECT_EQ(PageValue::take(result), PageValue("done"));
    EXPECT_THAT(seen, ElementsAre(PageValue(9)));
    EXPECT_FALSE(f->invokeDefault(npp, handler.asObject(), nullptr, 0, &result));
    EXPECT_THAT(browser.pageErrors(), ElementsAre("function handler threw: no arguments"));
    seen.clear();  // the captured values hold no page objects past the test
}

TEST_F(FakeBrowserSelf, DispatchesToThePluginClass) {
    PageValue probe = PageValue::adopt(newProbe());
    EXPECT_TRUE(browser.hasProperty(probe.asObject(), "answer"));
    EXPECT_EQ(browser.getProperty(probe.asObject(), "answer").value, PageValue("42"));
    EXPECT_EQ(browser.invoke(probe.asObject(), "twice", {21}).value, PageValue(42));
    EXPECT_EQ(browser.invokeDefault(probe.asObject(), {1, 2, 3}).value, PageValue(3));
    EXPECT_THAT(*browser.enumerate(probe.asObject()), ElementsAre("answer", "7"));
    EXPECT_FALSE(browser.setProperty(probe.asObject(), "answer", 1).ok);  // the class has no setProperty
    EXPECT_FALSE(browser.construct(probe.asObject()).ok);

    FakeBrowser::CallResult failed = browser.invoke(probe.asObject(), "fail");
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.exception, "probe failed");
    ASSERT_EQ(browser.exceptions().size(), 1u);
    EXPECT_EQ(browser.exceptions()[0].object, probe.asObject());

    // A page function property holding a plug-in object calls it.
    PageValue holder = browser.newObject();
    browser.setProperty(holder.asObject(), "callback", probe);
    EXPECT_EQ(browser.invoke(holder.asObject(), "callback", {1, 2}).value, PageValue(2));
}

TEST_F(FakeBrowserSelf, EvaluateInstallsThePageCallFunctionAndItsTimersCallBack) {
    const char* script =
        "window.__FB_CALL_900 = function(delay, f, args, fname) {   if (arguments.length == 3)       return "
        "setTimeout(function() { f.apply(null, args); }, delay);   else       return setTimeout(function() { "
        "f[fname].apply(f, args); }, delay);};";
    NPString text{script, static_cast<uint32_t>(std::strlen(script))};
    NPVariant result;
    ASSERT_TRUE(f->evaluate(npp, browser.window(), &text, &result));
    EXPECT_TRUE(NPVARIANT_IS_OBJECT(result));
    f->releasevariantvalue(&result);

    PageValue call = browser.getProperty(browser.window(), "__FB_CALL_900").value;
    ASSERT_TRUE(call.isObject());
    std::vector<std::vector<PageValue>> calls;
    PageValue handler = browser.newFunction("handler", [&](NPObject*, const std::vector<PageValue>& args) {
        calls.push_back(args);
        return PageValue();
    });
    PageValue probe = PageValue::adopt(newProbe());

    FakeBrowser::CallResult later =
        browser.invokeDefault(call.asObject(), {250, handler, browser.newArray({"a", 1})});
    FakeBrowser::CallResult sooner =
        browser.invokeDefault(call.asObject(), {0, probe, browser.newArray({21}), "twice"});
    ASSERT_TRUE(later.ok && sooner.ok);
    EXPECT_EQ(later.value, PageValue(1));  // timer ids
    EXPECT_EQ(sooner.value, PageValue(2));
    ASSERT_EQ(browser.pendingTimers().size(), 2u);
    EXPECT_EQ(browser.pendingTimers()[1].method, "twice");
    EXPECT_FALSE(browser.pendingTimers()[0].method.has_value());

    EXPECT_EQ(browser.runTimers(), 2u);
    EXPECT_THAT(calls, ElementsAre(ElementsAre(PageValue("a"), PageValue(1))));
    EXPECT_THAT(browser.pageErrors(), IsEmpty());

    // Anything else is a script the page cannot run.
    const char* other = "window.__FB_CALL_1 = function(delay, f) { return 0; };";
    NPString otherText{other, static_cast<uint32_t>(std::strlen(other))};
    EXPECT_FALSE(f->evaluate(npp, browser.window(), &otherText, &result));
    EXPECT_THAT(browser.pageErrors(), ElementsAre(HasSubstr("cannot evaluate")));
    calls.clear();
}

TEST_F(FakeBrowserSelf, InstanceValuesAndDestroyedInstances) {
    NPObject* element = nullptr;
    ASSERT_EQ(f->getvalue(npp, NPNVPluginElementNPObject, &element), NPERR_NO_ERROR);
    EXPECT_EQ(element, browser.pluginElement(npp));
    f->releaseobject(element);
    NPNToolkitType toolkit{};
    EXPECT_EQ(f->getvalue(nullptr, NPNVToolkit, &toolkit), NPERR_NO_ERROR);
    EXPECT_EQ(toolkit, NPToolkitGTK2);
    char* origin = nullptr;
    ASSERT_EQ(f->getvalue(npp, NPNVdocumentOrigin, &origin), NPERR_NO_ERROR);
    EXPECT_STREQ(origin, "http://localhost");
    f->memfree(origin);
    browser.refuseValue(NPNVWindowNPObject);
    NPObject* window = nullptr;
    EXPECT_EQ(f->getvalue(npp, NPNVWindowNPObject, &window), NPERR_GENERIC_ERROR);
    EXPECT_EQ(window, nullptr);

    f->setvalue(npp, NPPVpluginWindowBool, nullptr);
    f->setvalue(npp, NPPVpluginTransparentBool, reinterpret_cast<void*>(1));
    EXPECT_EQ(browser.instanceState(npp).windowed, false);
    EXPECT_EQ(browser.instanceState(npp).transparent, true);
    EXPECT_THAT(f->uagent(npp), HasSubstr("Linux"));

    NPObject* probe = newProbe();
    browser.destroyInstance(npp);
    EXPECT_EQ(Probe::invalidated, 1);  // the browser invalidates the instance's objects
    f->geturl(npp, "http://example.com/", "_blank");
    EXPECT_THAT(browser.problems(), ElementsAre("NPN_GetURL called with destroyed instance 1"));
    EXPECT_THAT(browser.callLog(), IsEmpty());
    browser.clearProblems();
    f->releaseobject(probe);
}

TEST_F(FakeBrowserSelf, RecordsNavigationAndAnswersProxyQueries) {
    f->pushpopupsenabledstate(npp, 1);
    f->geturl(npp, "https://example.com/a", "_self");
    f->poppopupsenabledstate(npp);
    int stream = 0;
    EXPECT_EQ(f->posturlnotify(npp, "https://example.com/p", nullptr, 3, "a=b", 0, &stream), NPERR_NO_ERROR);
    EXPECT_THAT(browser.callLog(),
                ElementsAre("NPN_PushPopupsEnabledState 1", "NPN_GetURL https://example.com/a _self",
                            "NPN_PopPopupsEnabledState", "NPN_PostURLNotify https://example.com/p (null)"));
    ASSERT_EQ(browser.urlRequests().size(), 2u);
    EXPECT_EQ(browser.urlRequests()[1].body, "a=b");
    EXPECT_EQ(browser.urlRequests()[1].notifyData, &stream);

    browser.setProxyAnswer(NPERR_NO_ERROR, "PROXY host:8080");
    char* value = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(f->getvalueforurl(npp, NPNURLVProxy, "https://x/", &value, &length), NPERR_NO_ERROR);
    EXPECT_EQ(std::string(value, length), "PROXY host:8080");
    f->memfree(value);
    browser.setProxyAnswer(NPERR_INCOMPATIBLE_VERSION_ERROR);
    EXPECT_EQ(f->getvalueforurl(npp, NPNURLVProxy, "https://x/", &value, &length),
              NPERR_INCOMPATIBLE_VERSION_ERROR);
}

TEST_F(FakeBrowserSelf, PageValuesOwnTheirReferences) {
    NPObject* probe = newProbe();
    {
        PageValue held = PageValue::adopt(probe);
        EXPECT_EQ(browser.refCount(probe), 1);
        PageValue copy = held;
        EXPECT_EQ(browser.refCount(probe), 2);
        PageValue moved = std::move(copy);
        EXPECT_EQ(browser.refCount(probe), 2);
        EXPECT_TRUE(copy.isVoid());
        held = PageValue(7);
        EXPECT_EQ(browser.refCount(probe), 1);

        // An owned result variant: the value keeps its reference and frees its text.
        NPVariant owned = moved.toNPVariant();
        EXPECT_EQ(browser.refCount(probe), 2);
        PageValue taken = PageValue::take(owned);
        EXPECT_TRUE(NPVARIANT_IS_VOID(owned));
        EXPECT_EQ(browser.refCount(probe), 2);
        NPVariant text = PageValue("text").toNPVariant();
        EXPECT_EQ(browser.outstandingAllocations(), 1u);
        EXPECT_EQ(PageValue::take(text), PageValue("text"));
        EXPECT_EQ(browser.outstandingAllocations(), 0u);
    }
    EXPECT_EQ(Probe::deallocated, 1);
    EXPECT_EQ(PageValue(static_cast<NPObject*>(nullptr)), PageValue(nullptr));
    EXPECT_THROW(PageValue(1).asString(), std::logic_error);
    EXPECT_EQ(PageValue(0.5).describe(), "0.5");
}

TEST_F(FakeBrowserSelf, ReleaseVariantValueFreesTextAndObjects) {
    NPVariant text = PageValue("abc").toNPVariant();
    NPVariant object = PageValue(browser.window()).toNPVariant();
    EXPECT_EQ(browser.refCount(browser.window()), 2);
    f->releasevariantvalue(&text);
    f->releasevariantvalue(&object);
    EXPECT_TRUE(NPVARIANT_IS_VOID(text));
    EXPECT_EQ(browser.refCount(browser.window()), 1);

    // Text the plug-in did not get from NPN_MemAlloc cannot be released by the browser.
    NPVariant foreign;
    STRINGZ_TO_NPVARIANT("static", foreign);
    f->releasevariantvalue(&foreign);
    void* block = f->memalloc(4);
    f->memfree(block);
    f->memfree(block);
    EXPECT_THAT(browser.problems(),
                ElementsAre(HasSubstr("NPN_MemFree of a block"), HasSubstr("NPN_MemFree of a block")));
    browser.clearProblems();
}

TEST_F(FakeBrowserSelf, WorkerThreadsCannotTouchReferences) {
    NPObject* probe = newProbe();
    std::thread worker([&] {
        f->retainobject(probe);
        f->releaseobject(probe);
        f->releaseobject(probe);
    });
    worker.join();
    EXPECT_EQ(browser.refCount(probe), 1);
    EXPECT_EQ(browser.problems().size(), 3u);
    browser.clearProblems();
    f->releaseobject(probe);
}

TEST_F(FakeBrowserSelf, UnloadReleasesWhatThePageHoldsOfThePlugin) {
    // The page keeps a plug-in object in a property and in an array: closing the page gives
    // both references back, so nothing leaks and the object is deallocated exactly once.
    NPObject* probe = newProbe();
    browser.setProperty(browser.window(), "api", PageValue(probe));
    PageValue list = browser.newArray({PageValue(probe)});
    browser.setProperty(browser.document(), "list", list);
    list = PageValue();
    f->releaseobject(probe);
    EXPECT_EQ(browser.refCount(probe), 2);
    EXPECT_THAT(browser.check(), IsEmpty());
    EXPECT_EQ(Probe::deallocated, 1);
}

TEST_F(FakeBrowserSelf, ShrinkingAnArrayOrReplacingAPropertyReleasesTheOldValue) {
    NPObject* probe = newProbe();
    PageValue list = browser.newArray({PageValue(probe), 2});
    browser.setProperty(browser.window(), "slot", PageValue(probe));
    f->releaseobject(probe);
    EXPECT_EQ(browser.refCount(probe), 2);
    browser.setProperty(list.asObject(), "length", 0);
    EXPECT_EQ(browser.refCount(probe), 1);
    EXPECT_FALSE(browser.hasProperty(list.asObject(), 0));
    browser.setProperty(browser.window(), "slot", "text");
    EXPECT_EQ(Probe::deallocated, 1);
    EXPECT_TRUE(browser.removeProperty(browser.window(), "slot").ok);
    EXPECT_FALSE(browser.hasProperty(browser.window(), "slot"));
}

TEST_F(FakeBrowserSelf, EnumeratingAPageObjectHandsTheArrayToTheCaller) {
    PageValue object = browser.newObject();
    browser.setProperty(object.asObject(), "b", 1);
    browser.setProperty(object.asObject(), "a", 2);
    NPIdentifier* ids = nullptr;
    uint32_t count = 0;
    ASSERT_TRUE(f->enumerate(npp, object.asObject(), &ids, &count));
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(ids[0], f->getstringidentifier("b"));
    EXPECT_EQ(ids[1], f->getstringidentifier("a"));
    EXPECT_EQ(browser.outstandingAllocations(), 1u);  // the caller frees it with NPN_MemFree
    f->memfree(ids);
}

TEST_F(FakeBrowserSelf, PageFunctionsSeeTheirReceiver) {
    NPObject* receiver = nullptr;
    PageValue method = browser.newFunction("method", [&](NPObject* self, const std::vector<PageValue>&) {
        receiver = self;
        return PageValue();
    });
    PageValue object = browser.newObject();
    browser.setProperty(object.asObject(), "m", method);
    EXPECT_TRUE(browser.invoke(object.asObject(), "m").ok);
    EXPECT_EQ(receiver, object.asObject());
    EXPECT_TRUE(browser.invokeDefault(method.asObject()).ok);
    EXPECT_EQ(receiver, nullptr);
    FakeBrowser::CallResult made =
        browser.construct(browser.getProperty(browser.window(), "Array").value.asObject(), {3});
    ASSERT_TRUE(made.ok);
    EXPECT_EQ(browser.arrayElements(made.value.asObject())->size(), 3u);
}

TEST_F(FakeBrowserSelf, TimersRunByDelayThenOrderAndReportFailures) {
    const char* script =
        "window.__FB_CALL_12 =\n function(delay, f, args, fname) {\n  if (arguments.length == 3)\n return "
        "setTimeout(function() { f.apply(null, args); }, delay);\n else\n return setTimeout(function() { "
        "f[fname].apply(f, args); }, delay);\n};\n";
    NPString text{script, static_cast<uint32_t>(std::strlen(script))};
    NPVariant result;
    ASSERT_TRUE(f->evaluate(npp, browser.window(), &text, &result));  // blanks may differ
    f->releasevariantvalue(&result);
    PageValue call = browser.getProperty(browser.window(), "__FB_CALL_12").value;

    std::vector<int32_t> order;
    PageValue handler = browser.newFunction("handler", [&](NPObject*, const std::vector<PageValue>& args) {
        order.push_back(args.at(0).asInt32());
        return PageValue();
    });
    browser.invokeDefault(call.asObject(), {50, handler, browser.newArray({1})});
    browser.invokeDefault(call.asObject(), {0, handler, browser.newArray({2})});
    browser.invokeDefault(call.asObject(), {50, handler, browser.newArray({3})});
    browser.invokeDefault(call.asObject(), {0, handler, browser.newArray(), "missing"});
    EXPECT_EQ(browser.runTimers(), 4u);
    EXPECT_THAT(order, ElementsAre(2, 1, 3));
    EXPECT_THAT(browser.pageErrors(),
                ElementsAre(HasSubstr("is not a function"), "timer 4: the call failed"));
    EXPECT_EQ(browser.runTimers(), 0u);
}

TEST_F(FakeBrowserSelf, ScriptEntriesCheckTheirInstance) {
    NPVariant result;
    EXPECT_FALSE(f->getproperty(nullptr, browser.window(), f->getstringidentifier("document"), &result));
    NPP_t stranger{};
    EXPECT_EQ(f->createobject(&stranger, &Probe::record), nullptr);
    NPObject* window = nullptr;
    EXPECT_EQ(f->getvalue(nullptr, NPNVWindowNPObject, &window), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_THAT(browser.problems(),
                ElementsAre("NPN_GetProperty called with a null instance",
                            "NPN_CreateObject called with an instance the browser never created",
                            "NPN_GetValue called with a null instance"));
    browser.clearProblems();
}

TEST(FakeBrowserModule, FailedNewGetsNoDestroyAndEntryPointsFillTheTable) {
    static int destroyed = 0;
    FakeBrowser browser;
    auto getEntryPoints = [](NPPluginFuncs* table) -> NPError {
        table->newp = [](NPMIMEType, NPP, uint16_t, int16_t, char**, char**, NPSavedData*) -> NPError {
            return NPERR_GENERIC_ERROR;
        };
        table->destroy = [](NPP, NPSavedData**) -> NPError {
            ++destroyed;
            return NPERR_NO_ERROR;
        };
        return NPERR_NO_ERROR;
    };
    ASSERT_EQ(browser.getEntryPoints(getEntryPoints), NPERR_NO_ERROR);
    EXPECT_EQ(browser.pluginFuncs()->size, sizeof(NPPluginFuncs));
    NPP npp = nullptr;
    EXPECT_EQ(browser.newPluginInstance(&npp, "application/x-korvane"), NPERR_GENERIC_ERROR);
    EXPECT_TRUE(browser.instanceState(npp).destroyed);
    EXPECT_THAT(browser.check(), IsEmpty());
    EXPECT_EQ(destroyed, 0);
}

// ---- Tables and versions ----------------------------------------------------------------------

TEST(FakeBrowserTable, OlderBrowsersHaveShorterTablesWithPoisonedTails) {
    FakeBrowserOptions options;
    options.minorVersion = 18;
    FakeBrowser browser(options);
    NPNetscapeFuncs* f = browser.funcs();
    EXPECT_EQ(f->version, 18);
    EXPECT_EQ(f->size, offsetof(NPNetscapeFuncs, enumerate) + sizeof(void*));
    ASSERT_NE(f->pluginthreadasynccall, nullptr);  // present only to catch an ungated copy
    NPP npp = browser.createInstance();
    f->pluginthreadasynccall(
        npp, [](void*) {}, nullptr);
    EXPECT_EQ(browser.pendingPostedCalls(), 0u);
    EXPECT_THAT(browser.problems(),
                ElementsAre("the plug-in called table entry 'pluginthreadasynccall', which a "
                            "browser of minor version 18 does not have"));
    browser.clearProblems();
    EXPECT_THAT(browser.check(), IsEmpty());
}

TEST(FakeBrowserTable, OptionsChooseMissingEntries) {
    FakeBrowserOptions options;
    options.minorVersion = 19;
    options.poisonAbsentEntries = false;
    options.missingEntries = {"setexception"};
    FakeBrowser plain(options);
    EXPECT_EQ(plain.funcs()->setexception, nullptr);
    EXPECT_NE(plain.funcs()->pluginthreadasynccall, nullptr);
    EXPECT_NE(plain.funcs()->construct, nullptr);
    EXPECT_EQ(plain.funcs()->getvalueforurl, nullptr);
    EXPECT_THAT(plain.check(), IsEmpty());
}

TEST(FakeBrowserTable, QtWebKitShape) {
    FakeBrowser browser(FakeBrowserOptions::qtWebKit());
    NPNetscapeFuncs* f = browser.funcs();
    EXPECT_EQ(f->size, 448);
    EXPECT_EQ(f->version, 26);
    EXPECT_EQ(f->scheduletimer, nullptr);
    EXPECT_NE(f->urlredirectresponse, nullptr);
    EXPECT_THAT(f->uagent(nullptr), HasSubstr("Safari"));
    NPP npp = browser.createInstance();
    char* origin = nullptr;
    EXPECT_EQ(f->getvalue(npp, NPNVdocumentOrigin, &origin), NPERR_GENERIC_ERROR);
    EXPECT_THROW(FakeBrowser second, std::logic_error);  // one browser at a time
}

// A plug-in module as the fake loads it: initialisation, instances, parameters, the scriptable
// object.
namespace module {
NPNetscapeFuncs* browserFuncs = nullptr;
std::vector<std::pair<std::string, std::string>> params;
NPObject* scriptable = nullptr;
bool writePastSize = false;

NPError newInstance(NPMIMEType, NPP npp, uint16_t, int16_t argc, char* argn[], char* argv[], NPSavedData*) {
    params.clear();
    for (int16_t i = 0; i < argc; ++i) {
        params.emplace_back(argn[i], argv[i] ? argv[i] : "<null>");
    }
    scriptable = browserFuncs->createobject(npp, &Probe::record);
    return NPERR_NO_ERROR;
}
NPError destroy(NPP, NPSavedData**) {
    browserFuncs->releaseobject(std::exchange(scriptable, nullptr));
    return NPERR_NO_ERROR;
}
NPError getValue(NPP, NPPVariable variable, void* value) {
    if (variable != NPPVpluginScriptableNPObject) {
        return NPERR_GENERIC_ERROR;
    }
    *static_cast<NPObject**>(value) = browserFuncs->retainobject(scriptable);
    return NPERR_NO_ERROR;
}
NPError initialize(NPNetscapeFuncs* browser, NPPluginFuncs* plugin) {
    browserFuncs = browser;
    plugin->newp = &newInstance;
    plugin->destroy = &destroy;
    plugin->getvalue = &getValue;
    if (writePastSize) {
        plugin->didComposite = [](NPP) {};
    }
    return NPERR_NO_ERROR;
}
}  // namespace module

TEST(FakeBrowserModule, LoadsAPluginAndDrivesItsInstances) {
    Probe::deallocated = 0;
    FakeBrowser browser(FakeBrowserOptions::qtWebKit());
    ASSERT_EQ(browser.initializePlugin(&module::initialize), NPERR_NO_ERROR);
    EXPECT_EQ(browser.pluginFuncs()->size, 160);
    NPP npp = nullptr;
    ASSERT_EQ(browser.newPluginInstance(&npp, "application/x-korvane", {{"a", "1"}, {"b", std::nullopt}}),
              NPERR_NO_ERROR);
    EXPECT_THAT(module::params, ElementsAre(std::pair<std::string, std::string>("a", "1"),
                                            std::pair<std::string, std::string>("b", "<null>")));
    PageValue api = browser.scriptableObject(npp);
    EXPECT_EQ(api.asObject(), module::scriptable);
    EXPECT_EQ(browser.refCount(module::scriptable), 2);
    EXPECT_EQ(browser.destroyPluginInstance(npp), NPERR_NO_ERROR);
    EXPECT_TRUE(browser.instanceState(npp).destroyed);
    api = PageValue();
    EXPECT_THAT(browser.check(), IsEmpty());
    EXPECT_EQ(Probe::deallocated, 1);
}

TEST(FakeBrowserModule, PluginWritingPastTheTableSizeIsAProblem) {
    FakeBrowser browser(FakeBrowserOptions::qtWebKit());
    module::writePastSize = true;
    browser.initializePlugin(&module::initialize);
    module::writePastSize = false;
    EXPECT_THAT(browser.problems(), ElementsAre("NP_Initialize wrote past the plug-in table's size 160"));
    EXPECT_EQ(browser.pluginFuncs()->didComposite, nullptr);
    browser.clearProblems();
    NPP npp = nullptr;
    Probe::deallocated = 0;
    browser.newPluginInstance(&npp, "application/x-korvane");
    EXPECT_THAT(browser.check(), IsEmpty());
    EXPECT_EQ(Probe::deallocated, 1);  // closing the page destroyed the instance left running
}

// ---- Posted calls -----------------------------------------------------------------------------

TEST_F(FakeBrowserSelf, ThreadsPostedCallsRunOnTheMainThreadWhenPumped) {
    struct Record {
        std::atomic<int> runs{0};
        std::thread::id ranOn;
    } record;
    auto run = [](void* data) {
        auto* r = static_cast<Record*>(data);
        r->ranOn = std::this_thread::get_id();
        ++r->runs;
    };
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) {
            f->pluginthreadasynccall(npp, run, &record);
        }
        // Anything else off the main thread is refused and reported.
        f->getstringidentifier("x");
    });
    EXPECT_TRUE(browser.pumpUntil([&] { return record.runs == 3; }));
    worker.join();
    EXPECT_EQ(record.ranOn, browser.mainThread());
    EXPECT_EQ(browser.postedCallCount(), 3u);
    EXPECT_THAT(browser.problems(), ElementsAre("NPN_GetStringIdentifier called off the main thread"));
    browser.clearProblems();

    // Calls still queued for a destroyed instance are dropped, as browsers do.
    f->pluginthreadasynccall(npp, run, &record);
    browser.destroyInstance(npp);
    f->pluginthreadasynccall(npp, run, &record);
    EXPECT_EQ(browser.runPostedCalls(), 0u);
    EXPECT_EQ(browser.droppedPostedCalls(), 2u);
    EXPECT_EQ(record.runs, 3);
}

}  // namespace
