// Every NPP_* callback of the loaded module given a bad instance: a null NPP, and an NPP the plug-in
// never accepted (its pdata is null).

#include <gtest/gtest.h>

#include <string>

#include "ModuleFixture.h"

using namespace moduletest;

namespace {

class BadInstanceTest : public ModuleFixture, public ::testing::WithParamInterface<bool> {
  protected:
    // The bad instance of this run: null, or a browser record that never went through NPP_New.
    NPP badInstance() {
        if (!GetParam()) {
            return nullptr;
        }
        if (stranger_ == nullptr) {
            stranger_ = browser.createInstance();
        }
        return stranger_;
    }

    void TearDown() override {
        if (stranger_ != nullptr) {
            browser.destroyInstance(stranger_);
        }
        ModuleFixture::TearDown();
    }

  private:
    NPP stranger_ = nullptr;
};

TEST_P(BadInstanceTest, EachCallbackGivesItsBadInstanceAnswer) {
    const NPPluginFuncs& f = plugin();
    NPP npp = badInstance();
    NPStream stream{};
    uint16_t stype = 0;
    char buffer[4] = {};
    char type[] = "application/x-korvane";

    if (npp == nullptr) {
        EXPECT_EQ(f.newp(type, npp, NP_EMBED, 0, nullptr, nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
    }
    EXPECT_EQ(f.destroy(npp, nullptr), NPERR_INVALID_INSTANCE_ERROR);
    NPWindow window{};
    EXPECT_EQ(f.setwindow(npp, &window), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(f.newstream(npp, type, &stream, false, &stype), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(stype, 0);
    EXPECT_EQ(f.destroystream(npp, &stream, NPRES_DONE), NPERR_INVALID_INSTANCE_ERROR);
    f.asfile(npp, &stream, "/tmp/file");
    EXPECT_EQ(f.writeready(npp, &stream), 2);
    EXPECT_EQ(f.write(npp, &stream, 0, sizeof(buffer), buffer), 2);
    f.print(npp, nullptr);
    EXPECT_EQ(f.event(npp, nullptr), 0);
    f.urlnotify(npp, "http://localhost/", NPRES_DONE, nullptr);
    EXPECT_EQ(f.setvalue(npp, NPNVprivateModeBool, nullptr), NPERR_INVALID_INSTANCE_ERROR);

    // NPP_GetValue answers for the module: its name, the description of no MIME type, nothing else.
    const char* text = nullptr;
    EXPECT_EQ(f.getvalue(npp, NPPVpluginNameString, &text), NPERR_NO_ERROR);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Korvane");
    const char* again = nullptr;
    EXPECT_EQ(f.getvalue(npp, NPPVpluginNameString, &again), NPERR_NO_ERROR);
    EXPECT_EQ(again, text) << "the text is made once and kept";
    EXPECT_EQ(f.getvalue(npp, NPPVpluginDescriptionString, &text), NPERR_NO_ERROR);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "");
    NPObject* object = nullptr;
    EXPECT_EQ(f.getvalue(npp, NPPVpluginScriptableNPObject, &object), NPERR_GENERIC_ERROR);
    EXPECT_EQ(object, nullptr);

    if (npp != nullptr) {
        EXPECT_EQ(npp->pdata, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(NullAndUnknown, BadInstanceTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("NotAccepted") : std::string("Null");
                         });

}  // namespace
