#pragma once
// How a reply file's bytes become the reply text the parsers read: every zero byte
// becomes a blank, every line feed becomes CR LF (a CR already before it stays, giving
// CR CR LF), and the Windows-1251 bytes become UTF-8.
#include <string>
#include <string_view>

namespace dm {

// Zero bytes to blanks and LF to CR LF, still in the file's bytes.
std::string NormaliseReplyBytes(std::string_view bytes);

// NormaliseReplyBytes, then Windows-1251 to UTF-8.
std::string ReplyTextFromBytes(std::string_view bytes);

// The line feeds in text, counted eight bytes at a time.
std::size_t CountLineFeeds(std::string_view text);

} // namespace dm
