// Input text quoted for a message: whatever a file or a user gave, the message
// shows it without letting it act on the terminal that prints it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace talvo {

// `text` between double quotes, safe to print: control characters (C0, DEL
// and the C1 range, which holds the terminal's escape and CSI), bidirectional
// overrides, bytes that are not UTF-8, the backslash and the double quote are
// written as escapes (\x1b, \u202e, \\, \"); other UTF-8 text stays as it is.
// Text longer than max_bytes is cut there (never inside a character) and
// "... (N bytes)" follows the closing quote, N the length of the whole text.
inline constexpr std::size_t kQuotedBytes = 200;
std::string quote_for_message(std::string_view text, std::size_t max_bytes = kQuotedBytes);

// The same without the quotes, for a name shown in its own brackets (a tag
// <name>, an axis): "... (N bytes)" follows directly when the text is cut.
std::string escape_for_message(std::string_view text, std::size_t max_bytes = kQuotedBytes);

// The text that quote_for_message (uncut) made `quoted` of: the quotes
// taken off and every escape read back (\\, \", \xHH, \uHHHH). Nothing
// when `quoted` is not such a text.
std::optional<std::string> unquote(std::string_view quoted);

}  // namespace talvo
