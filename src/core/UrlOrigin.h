#pragma once

#include <string>

namespace FB {

// The origin of an absolute URL with an authority, as browsers serialise it: "scheme://host[:port]" with
// scheme and host in lower case, user information and path dropped, and the scheme's default port left
// out ("https://Sign.Example:443/a?b" gives "https://sign.example"). The empty text when the URL has no
// such origin (no "//" authority, an empty or unusual host, a bad port): the caller treats the page as
// one it cannot name.
std::string urlOrigin(const std::string& url);

}  // namespace FB
