#pragma once
// Text a client chose (an OBEX name) made fit for one log line: quoted, control and
// invisible direction characters escaped, and cut to a length a reader can take in.
#include <cstddef>
#include <string>
#include <string_view>

namespace dm {

// `"name"` with \\, \", \n, \r, \t, \xNN (other control bytes and invalid UTF-8) and
// \uXXXX (C1 controls, line and paragraph separators, direction marks and overrides,
// byte order mark) escaped. A name longer than maxChars characters keeps its first
// maxChars, followed by `... (N characters)`.
std::string QuotedForLog(std::string_view utf8, std::size_t maxChars = 64);

} // namespace dm
