// What a Unix browser asks of the module before it initialises it, and the tables it refuses.

#include <gtest/gtest.h>

#include <string>

#include "LoadedModule.h"

using namespace moduletest;

namespace {

std::string text(const void* pointer) {
    return pointer != nullptr ? static_cast<const char*>(pointer) : "(null)";
}

TEST(ModuleDiscoveryTest, IdentityIsAnsweredBeforeInitialisation) {
    const LoadedModule& module = loadedModule();
    auto getMIMEDescription = module.entry<NP_GetMIMEDescriptionFunc>("NP_GetMIMEDescription");
    auto getValue = module.entry<NP_GetValueFunc>("NP_GetValue");
    ASSERT_NE(getMIMEDescription, nullptr);
    ASSERT_NE(getValue, nullptr);
    EXPECT_STREQ(getMIMEDescription(), "application/x-korvane::Brindlemoor plugin para firma digital 1.1;");

    const char* value = nullptr;
    EXPECT_EQ(getValue(nullptr, NPPVpluginNameString, &value), NPERR_NO_ERROR);
    EXPECT_EQ(text(value), "Korvane");
    EXPECT_EQ(getValue(nullptr, NPPVpluginDescriptionString, &value), NPERR_NO_ERROR);
    EXPECT_EQ(text(value), "Brindlemoor plugin para firma digital 1.1");

    value = nullptr;
    EXPECT_EQ(getValue(nullptr, NPPVpluginScriptableNPObject, &value), NPERR_GENERIC_ERROR);
    EXPECT_EQ(value, nullptr);
    EXPECT_NE(getValue(nullptr, NPPVpluginNameString, nullptr), NPERR_NO_ERROR);
}

TEST(ModuleDiscoveryTest, NullTablesAreRefused) {
    const LoadedModule& module = loadedModule();
    EXPECT_EQ(module.getEntryPoints(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
    NPPluginFuncs table{};
    table.size = sizeof(table);
    EXPECT_EQ(module.initialize(nullptr, &table), NPERR_INVALID_FUNCTABLE_ERROR);
    EXPECT_EQ(table.newp, nullptr);
    EXPECT_EQ(module.shutdown(), NPERR_NO_ERROR);
}

}  // namespace
