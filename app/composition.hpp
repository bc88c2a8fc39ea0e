// The composition of one scattering unit and its entry at the keyboard.
#pragma once

#include <string>
#include <vector>

#include "talvo/console/console.hpp"

namespace talvo {

inline constexpr int kMaxElements = 100;
inline constexpr int kMaxIsotopes = 20;
// Smallest atom count, density or fraction taken as non-zero.
inline constexpr float kSmall = 1.0e-6f;
inline constexpr float kFractionTolerance = 0.00101f;

enum SampleKind { kNaturalElements = 1, kIsotopes = 2 };

struct Isotope {
  int a = 0;              // mass number; 0 for the natural element
  float fraction = 1.0f;  // share of the element
};

struct Element {
  std::string symbol;   // 2 characters
  float amount = 0.0f;  // atoms of the element in one scattering unit
  std::vector<Isotope> isotopes;
};

struct Composition {
  int kind = kNaturalElements;
  std::vector<Element> elements;
  float density = 0.0f;  // g/cm3 if positive, atoms per A3 if negative, 0 not known
};

// The composition dialogue for natural elements or isotopes; throws RunEnd
// when an element has more isotopes than allowed.
Composition enter_composition(Console& con, int kind);

}  // namespace talvo
