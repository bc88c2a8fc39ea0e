#include "talvo/text/free_format.hpp"

#include <charconv>

#include "talvo/text/decimal.hpp"

namespace talvo {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\0'; }
bool ends_item(char c) { return is_blank(c) || c == ',' || c == '/'; }

// One real item, whole, in the Fortran forms.
template <typename T>
bool read_real(std::string_view item, T& out) {
  return read_decimal(item.data(), item.data() + item.size(), out, DecimalForm::kFortran).ec == std::errc();
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
  if (double v = 0; read_real(t, v)) return v;
  return std::nullopt;
}

namespace {

bool store(std::string_view item, const FreeTarget& target) {
  if (auto* p = std::get_if<int*>(&target)) {
    auto v = parse_int(item);
    if (!v) return false;
    **p = *v;
    return true;
  }
  if (auto* p = std::get_if<float*>(&target)) return read_real(item, **p);
  return read_real(item, *std::get<double*>(target));
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
