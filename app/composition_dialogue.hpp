// Typing the composition of one scattering unit at the keyboard.
#pragma once

#include "talvo/console/console.hpp"
#include "talvo/neutron/composition.hpp"

namespace talvo {

// The composition dialogue for natural elements or isotopes; throws RunEnd
// when an element has more isotopes than allowed.
Composition enter_composition(Console& con, SampleKind kind);

}  // namespace talvo
