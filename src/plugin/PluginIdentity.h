#pragma once

#include <string>

#include "KorvaneVersion.h"
#include "core/PluginApplication.h"

// Who the plug-in says it is: the names the browser shows, the MIME type pages embed it with, and the
// version pages read from "version".
namespace PluginIdentity {

inline constexpr const char* kName = "Korvane";
inline constexpr const char* kMimeType = "application/x-korvane";
// Entries end with ";"; each entry holds MIME type, file extensions (none) and description, split by ":".
inline constexpr const char* kMimeDescription =
    "application/x-korvane::Brindlemoor plugin para firma digital " KORVANE_SERIES ";";
inline constexpr const char* kDescription = "Brindlemoor plugin para firma digital " KORVANE_SERIES;
inline constexpr const char* kUnknownDescription = "Unknown Description";
inline constexpr const char* kVersion = KORVANE_VERSION;
inline constexpr const char* kCompanyName = "Brindlemoor";
#ifdef _WIN32
inline constexpr const char* kModuleFileName = "npKorvane.dll";
#else
inline constexpr const char* kModuleFileName = "npKorvane.so";
#endif

}  // namespace PluginIdentity
