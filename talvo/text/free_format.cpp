#include "talvo/text/free_format.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace talvo {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\0'; }
bool ends_item(char c) { return is_blank(c) || c == ',' || c == '/'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Normalises a Fortran real item to the form strtod reads, or "" when it is not one.
std::string normalise_real(std::string_view t) {
  std::size_t i = 0;
  std::string out;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) out += t[i++];
  std::size_t mantissa_digits = 0;
  while (i < t.size() && is_digit(t[i])) out += t[i++], ++mantissa_digits;
  if (i < t.size() && t[i] == '.') {
    out += t[i++];
    while (i < t.size() && is_digit(t[i])) out += t[i++], ++mantissa_digits;
  }
  if (mantissa_digits == 0) return {};
  if (i < t.size()) {
    const char c = t[i];
    if (c == 'e' || c == 'E' || c == 'd' || c == 'D' || c == 'q' || c == 'Q')
      ++i;
    else if (c != '+' && c != '-')
      return {};
    out += 'e';
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) out += t[i++];
    std::size_t exp_digits = 0;
    while (i < t.size() && is_digit(t[i])) out += t[i++], ++exp_digits;
    if (exp_digits == 0 || i != t.size()) return {};
  }
  return out;
}

// Most items are plain decimals that from_chars reads at once; the Fortran
// forms it does not take (D exponents, "1.0+3", a leading "+") go the long way.
template <typename T>
bool plain_decimal(std::string_view item, T& out) {
  if (item.empty() || item[0] == '+') return false;
  // Whole numbers of up to 15 digits, as diffraction counts are, are exact in a double.
  if (item.size() <= 15) {
    long long whole = 0;
    std::size_t i = item[0] == '-' ? 1 : 0;
    const std::size_t first = i;
    while (i < item.size() && is_digit(item[i])) whole = whole * 10 + (item[i++] - '0');
    if (i == item.size() && i > first) {
      // -0 keeps its sign, as the long way keeps it.
      out = item[0] == '-' ? -static_cast<T>(whole) : static_cast<T>(whole);
      return true;
    }
  }
  for (char c : item)
    if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+')) return false;
  T v{};
  auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), v);
  if (ec != std::errc() || end != item.data() + item.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

}  // namespace

std::optional<int> parse_int(std::string_view t) {
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  if (t.empty()) return std::nullopt;
  int value = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return value;
}

std::optional<double> parse_real(std::string_view t) {
  if (double v = 0; plain_decimal(t, v)) return v;
  const std::string s = normalise_real(t);
  if (s.empty()) return std::nullopt;
  const double v = std::strtod(s.c_str(), nullptr);
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

namespace {

bool store(std::string_view item, const FreeTarget& target) {
  if (auto* p = std::get_if<int*>(&target)) {
    auto v = parse_int(item);
    if (!v) return false;
    **p = *v;
    return true;
  }
  if (auto* p = std::get_if<float*>(&target); p && plain_decimal(item, **p)) return true;
  if (auto* p = std::get_if<double*>(&target); p && plain_decimal(item, **p)) return true;
  const std::string s = normalise_real(item);
  if (s.empty()) return false;
  if (auto* p = std::get_if<float*>(&target)) {
    // strtof rounds the decimal text once, as a single-precision read does.
    const float v = std::strtof(s.c_str(), nullptr);
    if (!std::isfinite(v)) return false;
    **p = v;
    return true;
  }
  const double v = std::strtod(s.c_str(), nullptr);
  if (!std::isfinite(v)) return false;
  *std::get<double*>(target) = v;
  return true;
}

}  // namespace

bool read_free(std::string_view line, std::span<const FreeTarget> targets) {
  std::size_t pos = 0;
  const auto skip_blanks = [&] {
    while (pos < line.size() && is_blank(line[pos])) ++pos;
  };
  for (const FreeTarget& target : targets) {
    skip_blanks();
    if (pos >= line.size()) return false;
    if (line[pos] == '/') return true;
    if (line[pos] == ',') {  // empty item: value unchanged
      ++pos;
      continue;
    }
    const std::size_t start = pos;
    while (pos < line.size() && !ends_item(line[pos])) ++pos;
    if (!store(line.substr(start, pos - start), target)) return false;
    skip_blanks();
    if (pos < line.size() && line[pos] == ',') ++pos;
  }
  return true;
}

bool read_free(std::string_view line, std::initializer_list<FreeTarget> targets) {
  return read_free(line, std::span<const FreeTarget>(targets.begin(), targets.size()));
}

}  // namespace talvo
