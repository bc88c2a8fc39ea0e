#include "talvo/elements/elements.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <vector>

#include "talvo/text/format.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"

namespace talvo {
namespace {

constexpr ElementEntry kElements[] = {
#include "talvo/elements/element_table.inc"
};
static_assert(std::size(kElements) == 97);  // and so each position fits the index below

// In order of Z, then of mass number.
constexpr IsotopeEntry kIsotopes[] = {
#include "talvo/elements/isotope_table.inc"
};
static_assert(std::is_sorted(std::begin(kIsotopes), std::end(kIsotopes),
                             [](const IsotopeEntry& l, const IsotopeEntry& r) {
                               return l.z != r.z ? l.z < r.z : l.a < r.a;
                             }));

}  // namespace

std::span<const ElementEntry> element_table() { return kElements; }

double published_weight(const ElementEntry& entry) {
  static const std::vector<double> weights = [] {
    std::vector<double> w;
    for (const ElementEntry& e : kElements) {
      const std::string text = shortest(e.weight);
      double v = 0.0;
      std::from_chars(text.data(), text.data() + text.size(), v);
      w.push_back(v);
    }
    return w;
  }();
  return weights[static_cast<std::size_t>(&entry - kElements)];
}

std::span<const IsotopeEntry> isotope_table() { return kIsotopes; }

std::optional<double> isotope_mass(int z, int a) {
  const IsotopeEntry* it =
      std::lower_bound(std::begin(kIsotopes), std::end(kIsotopes), IsotopeEntry{z, a, 0.0},
                       [](const IsotopeEntry& l, const IsotopeEntry& r) { return l.z != r.z ? l.z < r.z : l.a < r.a; });
  if (it == std::end(kIsotopes) || it->z != z || it->a != a) return std::nullopt;
  return it->mass;
}

namespace {

// The position in the index of a symbol key whose two characters are blank
// or A-Z; -1 for any other key, which no symbol of the table has.
constexpr int kLetters = 27;
constexpr int index_slot(unsigned key) {
  const auto letter = [](unsigned c) {
    return c == ' ' ? 0 : (c >= 'A' && c <= 'Z' ? static_cast<int>(c - 'A') + 1 : -1);
  };
  const int first = letter(key >> 8);
  const int second = letter(key & 0xffu);
  return first < 0 || second < 0 ? -1 : first * kLetters + second;
}

// The table's position of every symbol, by its key. Built when the program
// is compiled.
constexpr auto kSymbolIndex = [] {
  std::array<std::int8_t, kLetters * kLetters> index{};
  index.fill(-1);
  for (std::size_t i = 0; i < std::size(kElements); ++i) {
    auto& slot = index[static_cast<std::size_t>(index_slot(symbol_key(kElements[i].symbol)))];
    if (slot < 0) slot = static_cast<std::int8_t>(i);  // the first entry of a symbol is the one found
  }
  return index;
}();

}  // namespace

std::optional<std::size_t> find_element(std::string_view symbol) {
  const int slot = index_slot(symbol_key(symbol));
  if (slot < 0) return std::nullopt;
  const int i = kSymbolIndex[static_cast<std::size_t>(slot)];
  if (i < 0) return std::nullopt;
  return static_cast<std::size_t>(i);
}

Result<ElementEntry> element_named(std::string_view symbol) {
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  const bool letters = !symbol.empty() && symbol.size() <= 2 && std::all_of(symbol.begin(), symbol.end(), letter);
  const std::optional<std::size_t> i = letters ? find_element(symbol) : std::nullopt;
  if (!i) return make_error(ErrorKind::kNotFound, "unknown element symbol " + quote_for_message(symbol));
  return kElements[*i];
}

Result<ElementEntry> element_of_z(int z) {
  for (const ElementEntry& e : kElements)
    if (e.z == z) return e;
  return make_error(ErrorKind::kNotFound, "no element with Z = " + std::to_string(z) +
                                              " in the element table (Z = 1 to " +
                                              std::to_string(std::end(kElements)[-1].z) + ")");
}

}  // namespace talvo
