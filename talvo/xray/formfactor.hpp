// The coefficients of the X-ray form factors of atoms and ions,
// f(Q) = c + sum_j a_j exp(-b_j s^2), s = Q / 4 pi, as published by
// Waasmaier & Kirfel (5 terms) and in the International Tables (4 terms).
// The form factors themselves are in xray_average.hpp; foq and its lookups
// with their classic interface in talvo/classic/formfactor.hpp.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/result.hpp"

namespace talvo {

struct FormFactorParams {
  std::array<double, 5> a{};
  std::array<double, 5> b{};  // A^2
  double c = 0.0;
  int n = 0;  // number of terms
};

// The parameterisations by name, for the double-precision entry points.
enum class FormFactorTable { kWaasmaierKirfel, kInternationalTables };

// The parameterisation a front end names: "wk" or "it", in either case;
// nothing for any other name.
std::optional<FormFactorTable> form_factor_table_named(std::string_view name);
// Its title ("Waasmaier-Kirfel", "International Tables") and the data file
// of its coefficients ("wk_neutral.foqdat", "it_neutral.foqdat").
const char* form_factor_table_title(FormFactorTable table);
const char* form_factor_table_file(FormFactorTable table);

// Largest Q to which each parameterisation was fitted: Waasmaier-Kirfel to
// sin(theta)/lambda = 6 per Angstrom (Q = 24 pi), the International Tables
// to 2 (Q = 8 pi); beyond, the sums are extrapolations.
inline constexpr double kWkQmax = 75.39822368615503;
inline constexpr double kItQmax = 25.132741228718345;
constexpr double fitted_qmax(FormFactorTable table) {
  return table == FormFactorTable::kWaasmaierKirfel ? kWkQmax : kItQmax;
}

// The coefficients of an element's neutral atom or of an ion exactly as
// published, in double precision (the routines above give them rounded to
// single precision); symbols compare case-blind. Ions ("Fe3+", "O2-", "Li+",
// see ion_named) and the valence-bonded "Cval" and "Siva" are in the
// Waasmaier-Kirfel table only. kNotFound when the table lacks the element or
// ion (it holds H to Cf, no D, and 111 ions); the message names what the
// table has: "no Waasmaier-Kirfel form-factor coefficients for the ion Fe5+
// (the table has Fe2+, Fe3+)".
Result<FormFactorParams> published_coefficients(std::string_view symbol, FormFactorTable table);

// An atom or ion by name: the element symbol and the charge.
struct IonName {
  std::string element;  // as written: "Fe"
  int charge = 0;       // 0 for a neutral atom
};
// "Fe3+", "O2-", "Li+" or "Li1+", "Fe{3+}" (as in formulas), or a bare
// element symbol (charge 0). Nothing for any other text; the element is not
// checked against the element table.
std::optional<IonName> ion_named(std::string_view text);
// The element table's entry (find_element) of the element an atom or ion
// name stands for: "Fe", "fe", "Fe3+", "Fe{3+}", D, T (hydrogen's, as a
// formula reads it), "Cval" and "Siva" (C and Si); nothing when it names none.
std::optional<std::size_t> element_entry_of(std::string_view name);
// The name of an ion as printed: "Fe3+", "O2-", "Li+"; the element alone for charge 0.
std::string ion_text(std::string_view element, int charge);
// The ions of an element that the Waasmaier-Kirfel table holds, as ion_text
// writes them ("Fe2+", "Fe3+"); empty when it holds none.
std::vector<std::string> wk_ions_of(std::string_view element);

// f(Q) = c + sum_j a_j exp(-b_j s^2), s = Q / 4 pi, of the coefficients p at
// each point of q, rounded to single precision, into fq (for i below the
// lengths of both): the form factors the calculator's foq gives. The
// library's exponentials, eight at a time where the processor has AVX-512;
// the same single-precision values either way.
void single_precision_form_factors(std::span<double> fq, std::span<const double> q, const FormFactorParams& p);

// Symbols of the tables held in the program, in order of atomic number (98 each).
std::span<const char* const> wk_table_symbols();
std::span<const char* const> it_table_symbols();

}  // namespace talvo
