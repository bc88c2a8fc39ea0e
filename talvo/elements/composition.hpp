// The composition of one scattering unit: its elements, the atoms of each,
// the isotopes of each element and the sample density. The dialogue, the
// sample files, formulas and every calculation share this one type.
#pragma once

#include <string>
#include <vector>

namespace talvo {

inline constexpr int kMaxElements = 100;
inline constexpr int kMaxIsotopes = 20;

enum class SampleKind { kNaturalElements = 1, kIsotopes = 2 };

struct Isotope {
  int a = 0;              // mass number; 0 for the natural element
  double fraction = 1.0;  // share of the element
};

struct Element {
  std::string symbol;   // as typed or read: 1 or 2 characters ("Fe", "H")
  double amount = 0.0;  // atoms of the element in one scattering unit
  std::vector<Isotope> isotopes;
};

// Amounts, fractions and the density typed at the console or read from a
// .sample file are single-precision values; they are held exactly here.
struct Composition {
  SampleKind kind = SampleKind::kNaturalElements;
  std::vector<Element> elements;
  double density = 0.0;  // g/cm3 if positive, atoms per A3 if negative, 0 not known

  // N: the number of atoms in one scattering unit.
  double atoms() const {
    double n = 0.0;
    for (const Element& e : elements) n += e.amount;
    return n;
  }
};

}  // namespace talvo
