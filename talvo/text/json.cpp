#include "talvo/text/json.hpp"

#include <cmath>

#include "talvo/text/format.hpp"

namespace talvo::json {
namespace {

// The length of the valid UTF-8 sequence at the start of s (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF), or 0.
std::size_t utf8_length(std::string_view s) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(0);
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xbf;  // the range of the second byte
  if (b0 >= 0xc2 && b0 <= 0xdf) {
    n = 2;
  } else if (b0 >= 0xe0 && b0 <= 0xef) {
    n = 3;
    if (b0 == 0xe0) lo = 0xa0;
    if (b0 == 0xed) hi = 0x9f;
  } else if (b0 >= 0xf0 && b0 <= 0xf4) {
    n = 4;
    if (b0 == 0xf0) lo = 0x90;
    if (b0 == 0xf4) hi = 0x8f;
  } else {
    return 0;
  }
  if (s.size() < n || byte(1) < lo || byte(1) > hi) return 0;
  for (std::size_t i = 2; i < n; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xbf) return 0;
  return n;
}

}  // namespace

void append_number(std::string& out, std::optional<double> value) {
  if (!value || !std::isfinite(*value))
    out += "null";
  else
    append_shortest(out, *value);
}

void append_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t n = utf8_length(text.substr(i));
      if (n == 0) {
        // A byte that is no character: Python's surrogateescape, which os.fsencode turns back into it.
        out += "\\udc";
        out += kHex[c >> 4];
        out += kHex[c & 0xf];
        ++i;
      } else {
        out += text.substr(i, n);
        i += n;
      }
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  out += '"';
}

}  // namespace talvo::json
