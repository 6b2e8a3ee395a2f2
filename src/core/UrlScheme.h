#pragma once

#include <string>

namespace FB {

// The scheme of a URL in lower case ("https" for "HTTPS://host/"), or the empty text when the URL has
// none. The proxy queries need nothing else of a URL.
std::string urlScheme(const std::string& url);

}  // namespace FB
