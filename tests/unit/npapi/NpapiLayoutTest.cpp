// Layout of the NPAPI declarations as the browsers on x86_64 Linux lay them out, beyond the
// compile-time checks in the headers, and the constants whose values are fixed by the interface.
#include <gtest/gtest.h>

#include <cstddef>

#include "npapi/npapi/npfunctions.h"

TEST(NpapiLayout, BrowserTableEntriesSitInPublishedOrder) {
    // Every entry is one pointer after the previous one; spot checks along the table catch a
    // missing or transposed field.
    auto slot = [](size_t offset) { return (offset - offsetof(NPNetscapeFuncs, geturl)) / sizeof(void*); };
    EXPECT_EQ(slot(offsetof(NPNetscapeFuncs, uagent)), 7u);
    EXPECT_EQ(slot(offsetof(NPNetscapeFuncs, getvalue)), 16u);
    EXPECT_EQ(slot(offsetof(NPNetscapeFuncs, getstringidentifier)), 21u);
    EXPECT_EQ(slot(offsetof(NPNetscapeFuncs, createobject)), 27u);
    EXPECT_EQ(slot(offsetof(NPNetscapeFuncs, releasevariantvalue)), 38u);
    EXPECT_EQ(slot(offsetof(NPNetscapeFuncs, enumerate)), 42u);
    EXPECT_EQ(slot(offsetof(NPNetscapeFuncs, pluginthreadasynccall)), 43u);
    EXPECT_EQ(slot(offsetof(NPNetscapeFuncs, construct)), 44u);
    EXPECT_EQ(slot(offsetof(NPNetscapeFuncs, scheduletimer)), 48u);
    EXPECT_EQ(slot(offsetof(NPNetscapeFuncs, urlredirectresponse)), 54u);
}

TEST(NpapiLayout, PluginTableEntriesSitInPublishedOrder) {
    auto slot = [](size_t offset) { return (offset - offsetof(NPPluginFuncs, newp)) / sizeof(void*); };
    EXPECT_EQ(slot(offsetof(NPPluginFuncs, urlnotify)), 10u);
    EXPECT_EQ(slot(offsetof(NPPluginFuncs, javaClass)), 11u);
    EXPECT_EQ(slot(offsetof(NPPluginFuncs, getvalue)), 12u);
    EXPECT_EQ(slot(offsetof(NPPluginFuncs, setvalue)), 13u);
    EXPECT_EQ(slot(offsetof(NPPluginFuncs, getsitesforclearing)), 18u);
}

TEST(NpapiLayout, RecordsMatchTheBrowsersSizes) {
    EXPECT_EQ(sizeof(NPP_t), 2 * sizeof(void*));
    EXPECT_EQ(offsetof(NPStream, notifyData), 32u);
    EXPECT_EQ(offsetof(NPStream, headers), 40u);
    EXPECT_EQ(sizeof(NPRect), 8u);
    EXPECT_EQ(offsetof(NPVariant, value.stringValue.UTF8Length), 16u);
    EXPECT_EQ(offsetof(NPObject, referenceCount), 8u);
    EXPECT_EQ(offsetof(NPClass, enumerate), 88u);
#if defined(XP_UNIX)
    EXPECT_EQ(sizeof(NPEvent), 192u);  // the size of an X11 XEvent
#endif
}

TEST(NpapiLayout, VariablesAndCodesHaveTheirPublishedValues) {
    EXPECT_EQ(NPPVpluginNameString, 1);
    EXPECT_EQ(NPPVpluginTimerInterval, 7);
    EXPECT_EQ(NPPVpluginScriptableInstance, 10);
    EXPECT_EQ(NPPVpluginScriptableNPObject, 15);
    EXPECT_EQ(NPPVformValue, 16);
    EXPECT_EQ(NPNVisOfflineBool, 6);
    EXPECT_EQ(NPNVToolkit, 13);
    EXPECT_EQ(NPNVWindowNPObject, 15);
    EXPECT_EQ(NPNVPluginElementNPObject, 16);
    EXPECT_EQ(NPNVprivateModeBool, 18);
    EXPECT_EQ(NPNVdocumentOrigin, 22);
    EXPECT_EQ(NPNURLVProxy, 502);
    EXPECT_EQ(NPWindowTypeDrawable, 2);
    EXPECT_EQ(NPVariantType_Object, 6);
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, 2);
    EXPECT_EQ(NPERR_OUT_OF_MEMORY_ERROR, 5);
    EXPECT_EQ(NPERR_INCOMPATIBLE_VERSION_ERROR, 8);
    EXPECT_EQ(NPERR_STREAM_NOT_SEEKABLE, 13);
    EXPECT_EQ(NPRES_USER_BREAK, 2);
    EXPECT_EQ(NP_ASFILEONLY, 4);
    EXPECT_EQ(NP_CLASS_STRUCT_VERSION_CTOR, 3);
}

TEST(NpapiLayout, VariantMacrosWriteTypeAndValue) {
    NPVariant v;
    STRINGZ_TO_NPVARIANT("abc", v);
    EXPECT_TRUE(NPVARIANT_IS_STRING(v));
    EXPECT_EQ(NPVARIANT_TO_STRING(v).UTF8Length, 3u);
    INT32_TO_NPVARIANT(-7, v);
    EXPECT_TRUE(NPVARIANT_IS_INT32(v));
    EXPECT_EQ(NPVARIANT_TO_INT32(v), -7);
    BOOLEAN_TO_NPVARIANT(5, v);
    EXPECT_TRUE(NPVARIANT_TO_BOOLEAN(v));
    DOUBLE_TO_NPVARIANT(0.5, v);
    EXPECT_EQ(NPVARIANT_TO_DOUBLE(v), 0.5);
    NULL_TO_NPVARIANT(v);
    EXPECT_TRUE(NPVARIANT_IS_NULL(v));
    VOID_TO_NPVARIANT(v);
    EXPECT_TRUE(NPVARIANT_IS_VOID(v));
    EXPECT_EQ(NPVARIANT_TO_OBJECT(v), nullptr);
}
