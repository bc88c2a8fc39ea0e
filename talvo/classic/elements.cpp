#include "talvo/classic/elements.hpp"

#include <ostream>

#include "talvo/elements/elements.hpp"
#include "talvo/text/format.hpp"
#include "talvo/classic/print.hpp"
#include "talvo/text/words.hpp"
#include "talvo/classic/words.hpp"

namespace talvo::classic {

Status ele2z(std::string& symbol, int& z, double& weight, int iprint, std::ostream& out) {
  for (char& c : symbol)
    if (c == '\t') c = ' ';
  // The lookup reads 2 characters, blank-padded: "Fe" and "Fe " are one.
  const std::optional<std::size_t> i = find_element(symbol);
  if (!i) return Status::error(1, "ele2z: Unrecognised element symbol: " + fixed(symbol, 2));
  const ElementEntry& e = element_table()[*i];
  z = e.z;
  weight = e.weight;
  if (iprint != 0) {
    out << " ele2Z: " << trim_end(symbol) << '\n';
    pr_int(out, "ele2Z: Z = ", z);
    pr_dpar(out, "ele2Z: A = ", weight);
  }
  return {};
}

Status z2ele(std::string& symbol, int z, double& weight, int iprint, std::ostream& out) {
  const Result<ElementEntry> e = element_of_z(z);
  if (!e.ok()) return Status::error(1, "No symbol available for this atomic number");
  symbol = fixed(e->symbol, 2);
  weight = e->weight;
  if (iprint != 0) {
    out << " Z2ele: " << trim_end(symbol) << '\n';
    pr_int(out, "Z2ele: Z = ", z);
    pr_dpar(out, "Z2ele: A = ", weight);
  }
  return {};
}

}  // namespace talvo::classic
