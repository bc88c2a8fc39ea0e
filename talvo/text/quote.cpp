#include "talvo/text/quote.hpp"

namespace talvo {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void append_byte_escape(std::string& out, unsigned char c) {
  out += "\\x";
  out += kHex[c >> 4];
  out += kHex[c & 0xF];
}

void append_code_point_escape(std::string& out, char32_t cp) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 0xF];
}

// The length of the UTF-8 sequence at the start of s and its code point; 0
// when s does not start with a well-formed one (overlong forms, surrogates
// and code points past U+10FFFF included).
std::size_t utf8_sequence(std::string_view s, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  std::size_t n = 0;
  char32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2, cp = b0 & 0x1Fu, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3, cp = b0 & 0x0Fu, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4, cp = b0 & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// C1 controls and the characters that reorder the text around them.
bool hidden_control(char32_t cp) {
  return (cp >= 0x80 && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) ||
         cp == 0x200E || cp == 0x200F || cp == 0x061C;
}

// The escaped text, without quotes; true when it was cut.
bool escape(std::string& out, std::string_view text, std::size_t max_bytes) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (i + 1 > max_bytes) break;
      if (c < 0x20 || c == 0x7F)
        append_byte_escape(out, c);
      else if (c == '\\' || c == '"')
        (out += '\\') += static_cast<char>(c);
      else
        out += static_cast<char>(c);
      ++i;
      continue;
    }
    char32_t cp = 0;
    const std::size_t n = utf8_sequence(text.substr(i), cp);
    if (n == 0) {
      if (i + 1 > max_bytes) break;
      append_byte_escape(out, c);
      ++i;
      continue;
    }
    if (i + n > max_bytes) break;
    if (hidden_control(cp))
      append_code_point_escape(out, cp);
    else
      out.append(text.substr(i, n));
    i += n;
  }
  return text.size() > max_bytes;
}

void append_cut(std::string& out, std::size_t length) { out += "... (" + std::to_string(length) + " bytes)"; }

}  // namespace

std::string quote_for_message(std::string_view text, std::size_t max_bytes) {
  std::string out = "\"";
  const bool cut = escape(out, text, max_bytes);
  out += '"';
  if (cut) append_cut(out, text.size());
  return out;
}

std::string escape_for_message(std::string_view text, std::size_t max_bytes) {
  std::string out;
  if (escape(out, text, max_bytes)) append_cut(out, text.size());
  return out;
}

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::optional<std::string> unquote(std::string_view quoted) {
  if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') return std::nullopt;
  const std::string_view body = quoted.substr(1, quoted.size() - 2);
  std::string out;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '"') return std::nullopt;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i == body.size()) return std::nullopt;
    const char e = body[i];
    if (e == '\\' || e == '"') {
      out += e;
      continue;
    }
    const std::size_t digits = e == 'x' ? 2 : e == 'u' ? 4 : 0;
    if (digits == 0 || body.size() - i - 1 < digits) return std::nullopt;
    char32_t v = 0;
    for (std::size_t k = 1; k <= digits; ++k) {
      const int d = hex_digit(body[i + k]);
      if (d < 0) return std::nullopt;
      v = (v << 4) | static_cast<char32_t>(d);
    }
    i += digits;
    if (e == 'x')
      out += static_cast<char>(v);
    else
      append_utf8(out, v);
  }
  return out;
}

}  // namespace talvo
