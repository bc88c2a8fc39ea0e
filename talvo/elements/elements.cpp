#include "talvo/elements/elements.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <ostream>
#include <vector>

#include "talvo/classic/print.hpp"
#include "talvo/text/format.hpp"
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

int find_element(std::string_view symbol) {
  const int slot = index_slot(symbol_key(symbol));
  return slot < 0 ? -1 : kSymbolIndex[static_cast<std::size_t>(slot)];
}

Status ele2z(std::string& symbol, int& z, double& weight, int iprint, std::ostream& out) {
  for (char& c : symbol)
    if (c == '\t') c = ' ';
  const int i = find_element(symbol);
  if (i < 0) return Status::error(1, "ele2z: Unrecognised element symbol: " + fixed(symbol, 2));
  z = kElements[i].z;
  weight = kElements[i].weight;
  if (iprint != 0) {
    out << " ele2Z: " << trim_end(symbol) << '\n';
    classic::pr_int(out, "ele2Z: Z = ", z);
    classic::pr_dpar(out, "ele2Z: A = ", weight);
  }
  return {};
}

Status z2ele(std::string& symbol, int z, double& weight, int iprint, std::ostream& out) {
  for (const ElementEntry& e : kElements) {
    if (e.z != z) continue;
    symbol = fixed(e.symbol, 2);
    weight = e.weight;
    if (iprint != 0) {
      out << " Z2ele: " << trim_end(symbol) << '\n';
      classic::pr_int(out, "Z2ele: Z = ", z);
      classic::pr_dpar(out, "Z2ele: A = ", weight);
    }
    return {};
  }
  return Status::error(1, "No symbol available for this atomic number");
}

}  // namespace talvo
