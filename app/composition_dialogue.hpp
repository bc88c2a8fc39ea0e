// Typing the composition of one scattering unit at the keyboard.
#pragma once

#include "talvo/classic/nuclear_tables.hpp"
#include "talvo/console/console.hpp"
#include "talvo/elements/composition.hpp"

namespace talvo {

// The composition dialogue for natural elements or isotopes. A reply that
// cannot be used is asked again after a line that says why; an element or
// isotope that `table` does not hold is named at once. Fails with
// read_reply's error when no reply can be read, with run_end() when an
// element has more isotopes than allowed.
Result<Composition> enter_composition(Console& con, SampleKind kind, const classic::NuclearTable& table);

}  // namespace talvo
