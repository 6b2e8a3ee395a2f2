// Core NPAPI types and constants shared by the browser and the plug-in: instances, streams, windows,
// printing, events, the variables of NPP_GetValue/NPN_GetValue and the error and reason codes.
// Written for this project from the published interface; nothing of it is linked.
#ifndef KORVANE_NPAPI_NPAPI_H
#define KORVANE_NPAPI_NPAPI_H

#include <stdint.h>

#if !defined(XP_WIN) && !defined(XP_UNIX) && !defined(XP_MACOSX)
#if defined(_WIN32)
#define XP_WIN 1
#elif defined(__APPLE__)
#define XP_MACOSX 1
#else
#define XP_UNIX 1
#endif
#endif

// Calling convention of the exported entry points and of the callbacks in the function tables.
#ifndef OSCALL
#if defined(XP_WIN) && defined(_WIN32) && !defined(_WIN64)
#define OSCALL __stdcall
#else
#define OSCALL
#endif
#endif

// Historical far-data marker; empty on every platform this module builds for.
#ifndef NP_LOADDS
#define NP_LOADDS
#endif

// Exported entry points: Windows exports through the module definition file, Unix by visibility.
#ifndef NP_EXPORT
#if defined(XP_WIN)
#define NP_EXPORT(__type) __type
#else
#define NP_EXPORT(__type) __attribute__((visibility("default"))) __type
#endif
#endif

#define NP_VERSION_MAJOR 0
#define NP_VERSION_MINOR 27

// Minor versions at which browsers gained features; a plug-in compares them with the browser
// table's `version`.
#define NPVERS_HAS_STREAMOUTPUT 8
#define NPVERS_HAS_NOTIFICATION 9
#define NPVERS_HAS_LIVECONNECT 9
#define NPVERS_68K_HAS_LIVECONNECT 11
#define NPVERS_HAS_WINDOWLESS 11
#define NPVERS_HAS_XPCONNECT_SCRIPTING 13
#define NPVERS_HAS_NPRUNTIME_SCRIPTING 14
#define NPVERS_HAS_FORM_VALUES 15
#define NPVERS_HAS_POPUPS_ENABLED_STATE 16
#define NPVERS_HAS_RESPONSE_HEADERS 17
#define NPVERS_HAS_NPOBJECT_ENUM 18
#define NPVERS_HAS_PLUGIN_THREAD_ASYNC_CALL 19
#define NPVERS_HAS_ALL_NETWORK_STREAMS 20
#define NPVERS_HAS_URL_AND_AUTH_INFO 21
#define NPVERS_HAS_PRIVATE_MODE 22
#define NPVERS_MACOSX_HAS_COCOA_EVENTS 23
#define NPVERS_HAS_ADVANCED_KEY_HANDLING 25
#define NPVERS_HAS_URL_REDIRECT_HANDLING 26
#define NPVERS_HAS_CLEAR_SITE_DATA 27

// Only gcc 3+ on Mac OS marked the ABI in a few variable numbers; everywhere else the mask is 0.
#define NP_ABI_GCC3_MASK 0x10000000
#define NP_ABI_MACHO_MASK 0x01000000
#if defined(XP_MACOSX) && defined(__GNUC__) && (__GNUC__ >= 3)
#define NP_ABI_MASK (NP_ABI_GCC3_MASK | NP_ABI_MACHO_MASK)
#else
#define NP_ABI_MASK 0
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char NPBool;
typedef int16_t NPError;
typedef int16_t NPReason;
typedef char* NPMIMEType;

// One plug-in instance: `pdata` belongs to the plug-in, `ndata` to the browser.
typedef struct _NPP {
    void* pdata;
    void* ndata;
} NPP_t;
typedef NPP_t* NPP;

typedef struct _NPStream {
    void* pdata;
    void* ndata;
    const char* url;
    uint32_t end;
    uint32_t lastmodified;
    void* notifyData;
    const char* headers;
} NPStream;

typedef struct _NPByteRange {
    int32_t offset;  // negative: from the end of the stream
    uint32_t length;
    struct _NPByteRange* next;
} NPByteRange;

typedef struct _NPSavedData {
    int32_t len;
    void* buf;
} NPSavedData;

typedef struct _NPRect {
    uint16_t top;
    uint16_t left;
    uint16_t bottom;
    uint16_t right;
} NPRect;

typedef struct _NPSize {
    int32_t width;
    int32_t height;
} NPSize;

typedef enum { NPFocusNext = 0, NPFocusPrevious = 1 } NPFocusDirection;

// Results of NPP_HandleEvent.
#define kNPEventNotHandled 0
#define kNPEventHandled 1
#define kNPEventStartIME 2

#if defined(XP_UNIX)
// Callback records that X11 browsers hand over in NPWindow::ws_info and in printing. The X types
// are kept opaque so that this header does not need the X11 headers.
enum { NP_SETWINDOW = 1, NP_PRINT };

typedef struct {
    int32_t type;
} NPAnyCallbackStruct;

typedef struct {
    int32_t type;
    void* display;           // Display*
    void* visual;            // Visual*
    unsigned long colormap;  // Colormap
    unsigned int depth;
} NPSetWindowCallbackStruct;

typedef struct {
    int32_t type;
    void* fp;  // FILE*
} NPPrintCallbackStruct;
#endif

typedef enum { NPToolkitGTK = 1, NPToolkitGTK2 } NPNToolkitType;

// Variables the browser asks of the plug-in (NPP_GetValue) or the plug-in sets (NPN_SetValue).
typedef enum {
    NPPVpluginNameString = 1,
    NPPVpluginDescriptionString,
    NPPVpluginWindowBool,
    NPPVpluginTransparentBool,
    NPPVjavaClass,
    NPPVpluginWindowSize,
    NPPVpluginTimerInterval,
    NPPVpluginScriptableInstance = (10 | NP_ABI_MASK),
    NPPVpluginScriptableIID = 11,
    NPPVjavascriptPushCallerBool = 12,
    NPPVpluginKeepLibraryInMemory = 13,
    NPPVpluginNeedsXEmbed = 14,
    NPPVpluginScriptableNPObject = 15,
    NPPVformValue = 16,
    NPPVpluginUrlRequestsDisplayedBool = 17,
    NPPVpluginWantsAllNetworkStreams = 18,
    NPPVpluginNativeAccessibleAtkPlugId = 19,
    NPPVpluginCancelSrcStream = 20,
    NPPVsupportsAdvancedKeyHandling = 21,
    NPPVpluginUsesDOMForCursorBool = 22,
    NPPVpluginDrawingModel = 1000,
    NPPVpluginEventModel = 1001,
    NPPVpluginCoreAnimationLayer = 1003
} NPPVariable;

// Variables the plug-in asks of the browser (NPN_GetValue).
typedef enum {
    NPNVxDisplay = 1,
    NPNVxtAppContext,
    NPNVnetscapeWindow,
    NPNVjavascriptEnabledBool,
    NPNVasdEnabledBool,
    NPNVisOfflineBool,
    NPNVserviceManager = (10 | NP_ABI_MASK),
    NPNVDOMElement = (11 | NP_ABI_MASK),
    NPNVDOMWindow = (12 | NP_ABI_MASK),
    NPNVToolkit = (13 | NP_ABI_MASK),
    NPNVSupportsXEmbedBool = 14,
    NPNVWindowNPObject = 15,
    NPNVPluginElementNPObject = 16,
    NPNVSupportsWindowless = 17,
    NPNVprivateModeBool = 18,
    NPNVsupportsAdvancedKeyHandling = 21,
    NPNVdocumentOrigin = 22,
    NPNVpluginDrawingModel = 1000,
    NPNVsupportsQuickDrawBool = 2000,
    NPNVsupportsCoreGraphicsBool = 2001,
    NPNVsupportsOpenGLBool = 2002,
    NPNVsupportsCoreAnimationBool = 2003,
    NPNVsupportsInvalidatingCoreAnimationBool = 2004,
    NPNVsupportsCarbonBool = 3000,
    NPNVsupportsCocoaBool = 3001
} NPNVariable;

// Per-URL variables of NPN_GetValueForURL / NPN_SetValueForURL.
typedef enum { NPNURLVCookie = 501, NPNURLVProxy = 502 } NPNURLVariable;

typedef enum { NPWindowTypeWindow = 1, NPWindowTypeDrawable } NPWindowType;

typedef struct _NPWindow {
    void* window;  // HWND, X11 window id or drawable
    int32_t x;
    int32_t y;
    uint32_t width;
    uint32_t height;
    NPRect clipRect;
#if defined(XP_UNIX)
    void* ws_info;  // NPSetWindowCallbackStruct*
#endif
    NPWindowType type;
} NPWindow;

typedef struct _NPFullPrint {
    NPBool pluginPrinted;
    NPBool printOne;
    void* platformPrint;
} NPFullPrint;

typedef struct _NPEmbedPrint {
    NPWindow window;
    void* platformPrint;
} NPEmbedPrint;

typedef struct _NPPrint {
    uint16_t mode;  // NP_FULL or NP_EMBED
    union {
        NPFullPrint fullPrint;
        NPEmbedPrint embedPrint;
    } print;
} NPPrint;

#if defined(XP_WIN)
typedef struct _NPEvent {
    uint16_t event;
    uintptr_t wParam;
    uintptr_t lParam;
} NPEvent;
typedef void* NPRegion;  // HRGN
#elif defined(XP_UNIX)
// An X11 XEvent: the event type first, padded to the size of the X union.
typedef union _NPEvent {
    int type;
    long pad[24];
} NPEvent;
typedef void* NPRegion;  // Region
#else
typedef void* NPEvent;
typedef void* NPRegion;
#endif

typedef void* NPMenu;

typedef enum {
    NPCoordinateSpacePlugin = 1,
    NPCoordinateSpaceWindow,
    NPCoordinateSpaceFlippedWindow,
    NPCoordinateSpaceScreen,
    NPCoordinateSpaceFlippedScreen
} NPCoordinateSpace;

// Instance modes of NPP_New.
#define NP_EMBED 1
#define NP_FULL 2

// Stream delivery modes of NPP_NewStream.
#define NP_NORMAL 1
#define NP_SEEK 2
#define NP_ASFILE 3
#define NP_ASFILEONLY 4

#define NP_MAXREADY (((unsigned)(~0) << 1) >> 1)

#define NPERR_BASE 0
#define NPERR_NO_ERROR (NPERR_BASE + 0)
#define NPERR_GENERIC_ERROR (NPERR_BASE + 1)
#define NPERR_INVALID_INSTANCE_ERROR (NPERR_BASE + 2)
#define NPERR_INVALID_FUNCTABLE_ERROR (NPERR_BASE + 3)
#define NPERR_MODULE_LOAD_FAILED_ERROR (NPERR_BASE + 4)
#define NPERR_OUT_OF_MEMORY_ERROR (NPERR_BASE + 5)
#define NPERR_INVALID_PLUGIN_ERROR (NPERR_BASE + 6)
#define NPERR_INVALID_PLUGIN_DIR_ERROR (NPERR_BASE + 7)
#define NPERR_INCOMPATIBLE_VERSION_ERROR (NPERR_BASE + 8)
#define NPERR_INVALID_PARAM (NPERR_BASE + 9)
#define NPERR_INVALID_URL (NPERR_BASE + 10)
#define NPERR_FILE_NOT_FOUND (NPERR_BASE + 11)
#define NPERR_NO_DATA (NPERR_BASE + 12)
#define NPERR_STREAM_NOT_SEEKABLE (NPERR_BASE + 13)
#define NPERR_TIME_RANGE_NOT_SUPPORTED (NPERR_BASE + 14)
#define NPERR_MALFORMED_SITE (NPERR_BASE + 15)

#define NPRES_BASE 0
#define NPRES_DONE (NPRES_BASE + 0)
#define NPRES_NETWORK_ERR (NPRES_BASE + 1)
#define NPRES_USER_BREAK (NPRES_BASE + 2)

// Flags of NPP_ClearSiteData.
#define NP_CLEAR_ALL 0
#define NP_CLEAR_CACHE (1 << 0)

#ifdef __cplusplus
}  // extern "C"

#if defined(XP_UNIX) && (defined(__x86_64__) || defined(_M_X64))
#include <cstddef>
static_assert(sizeof(NPWindow) == 48, "NPWindow must match the X11 browsers' layout");
static_assert(offsetof(NPWindow, ws_info) == 32 && offsetof(NPWindow, type) == 40);
#endif
#endif

#endif  // KORVANE_NPAPI_NPAPI_H
