#pragma once

// Stream events that the instance's stream callbacks send besides those NpapiStream sends itself.

#include <string>

#include "core/PluginEvent.h"

namespace FB::Npapi {

// The browser stream cannot be read the way the stream asked for (seeking on a stream that has none).
class StreamOpenFailedEvent : public PluginEvent {};

// The browser saved the stream in a file (NP_ASFILE); path is the name the browser gave, widened byte
// by byte as it came.
class StreamAsFileEvent : public PluginEvent {
  public:
    explicit StreamAsFileEvent(std::wstring path) : path(std::move(path)) {}
    std::wstring path;
};

}  // namespace FB::Npapi
