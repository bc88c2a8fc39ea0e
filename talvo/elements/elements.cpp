#include "talvo/elements/elements.hpp"

#include <array>
#include <cstdint>
#include <ostream>

#include "talvo/console/print.hpp"
#include "talvo/text/words.hpp"

namespace talvo {
namespace {

constexpr ElementEntry kElements[] = {
#include "talvo/elements/element_table.inc"
};
static_assert(std::size(kElements) == 97);  // and so each position fits the index below

}  // namespace

std::span<const ElementEntry> element_table() { return kElements; }

namespace {

// The table's position of every symbol key, by its letters: blank or A-Z for
// each of the two characters. Built when the program is compiled.
constexpr int letter_index(unsigned char c) { return c == ' ' ? 0 : (c >= 'A' && c <= 'Z' ? c - 'A' + 1 : -1); }
constexpr int kLetters = 27;

constexpr auto kSymbolIndex = [] {
  std::array<std::int8_t, kLetters * kLetters> index{};
  index.fill(-1);
  for (std::size_t i = 0; i < std::size(kElements); ++i) {
    const std::string_view symbol = kElements[i].symbol;
    const auto upper = [](char c) { return static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); };
    const int first = letter_index(upper(symbol[0]));
    const int second = letter_index(upper(symbol.size() < 2 ? ' ' : symbol[1]));
    auto& slot = index[static_cast<std::size_t>(first * kLetters + second)];
    if (slot < 0) slot = static_cast<std::int8_t>(i);  // the first entry of a symbol is the one found
  }
  return index;
}();

}  // namespace

int find_element(std::string_view symbol) {
  const unsigned key = symbol_key(symbol);
  const int first = letter_index(static_cast<unsigned char>(key >> 8));
  const int second = letter_index(static_cast<unsigned char>(key & 0xff));
  if (first < 0 || second < 0) return -1;  // every symbol of the table is letters (and a blank)
  return kSymbolIndex[static_cast<std::size_t>(first * kLetters + second)];
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
    pr_int(out, "ele2Z: Z = ", z);
    pr_dpar(out, "ele2Z: A = ", weight);
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
      pr_int(out, "Z2ele: Z = ", z);
      pr_dpar(out, "Z2ele: A = ", weight);
    }
    return {};
  }
  return Status::error(1, "No symbol available for this atomic number");
}

}  // namespace talvo
