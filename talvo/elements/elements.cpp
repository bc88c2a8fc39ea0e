#include "talvo/elements/elements.hpp"

#include <ostream>

#include "talvo/console/print.hpp"
#include "talvo/text/words.hpp"

namespace talvo {
namespace {

constexpr ElementEntry kElements[] = {
#include "talvo/elements/element_table.inc"
};
static_assert(std::size(kElements) == 97);

}  // namespace

std::span<const ElementEntry> element_table() { return kElements; }

int find_element(std::string_view symbol) {
  for (std::size_t i = 0; i < std::size(kElements); ++i)
    if (same_symbol(symbol, kElements[i].symbol)) return static_cast<int>(i);
  return -1;
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
