// X-ray form factors of neutral atoms: f(Q) = c + sum_j a_j exp(-b_j s^2),
// s = Q / 4 pi, from the Waasmaier-Kirfel (5 terms) or International Tables
// (4 terms) coefficients, held in the program or read from a data file.
#pragma once

#include <array>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/files/data_folder.hpp"
#include "talvo/status.hpp"

namespace talvo {

struct FormFactorParams {
  std::array<double, 5> a{};
  std::array<double, 5> b{};  // A^2
  double c = 0.0;
  int n = 0;  // number of terms
};

// Where the coefficients come from; any other value is Error 7.
enum class DataMode { kTablesInProgram = 0, kDataFile = 1 };
// Which parameterisation; any other value is Error 11.
enum class FoqMode { kWaasmaierKirfel = 1, kInternationalTables = 3 };

// Largest Q of the coefficient data: 24 pi, that is s = 6 per Angstrom.
inline constexpr double kFoqQmax = 75.39822368615503;

// Coefficients of an element, from the tables held in the program or from
// "wk_neutral.foqdat" / "it_neutral.foqdat" in the data folder `folder`.
// Errors 1-7 with the messages of the library.
Status get_wkpar_neut(std::string_view symbol, FormFactorParams& p, int iprint, DataMode data_mode, std::ostream& out,
                      const DataFolder& folder = {});
Status get_itpar_neut(std::string_view symbol, FormFactorParams& p, int iprint, DataMode data_mode, std::ostream& out,
                      const DataFolder& folder = {});

// The tables held in the program only; p.n (at most 5 resp. 4) says how many
// terms to copy. Error 6 when the element is not in the table.
Status get_wkpar_neut_data(std::string_view symbol, FormFactorParams& p, int iprint, std::ostream& out);
Status get_itpar_neut_data(std::string_view symbol, FormFactorParams& p, int iprint, std::ostream& out);

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
inline constexpr double kItQmax = 25.132741228718345;
constexpr double fitted_qmax(FormFactorTable table) {
  return table == FormFactorTable::kWaasmaierKirfel ? kFoqQmax : kItQmax;
}

// The coefficients of an element's neutral atom or of an ion exactly as
// published, in double precision (the routines above give them rounded to
// single precision); symbols compare case-blind. Ions ("Fe3+", "O2-", "Li+",
// see ion_named) and the valence-bonded "Cval" and "Siva" are in the
// Waasmaier-Kirfel table only. Nothing when the table lacks the element or
// ion (it holds H to Cf, no D, and 111 ions).
std::optional<FormFactorParams> published_coefficients(std::string_view symbol, FormFactorTable table);

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
// formula reads it), "Cval" and "Siva" (C and Si); -1 when it names none.
int element_entry_of(std::string_view name);
// The name of an ion as printed: "Fe3+", "O2-", "Li+"; the element alone for charge 0.
std::string ion_text(std::string_view element, int charge);
// The ions of an element that the Waasmaier-Kirfel table holds, as ion_text
// writes them ("Fe2+", "Fe3+"); empty when it holds none.
std::vector<std::string> wk_ions_of(std::string_view element);

// Symbols of the tables held in the program, in order of atomic number (98 each).
std::span<const char* const> wk_table_symbols();
std::span<const char* const> it_table_symbols();

// f(Q) for every Q of the grid (fq must be as long as q), rounded to single
// precision; p receives the coefficients used. A last Q beyond 24 pi is
// Error 9, a warning: the values are still computed.
Status foq(std::span<double> fq, std::span<const double> q, FormFactorParams& p, std::string_view symbol,
           FoqMode ifoqmode, DataMode data_mode, int iprint, std::ostream& out, const DataFolder& folder = {});

// foq by atomic number; symbol and weight receive the element found.
Status zfoq(std::span<double> fq, std::span<const double> q, FormFactorParams& p, double& weight, std::string& symbol,
            int z, FoqMode ifoqmode, DataMode data_mode, int iprint, std::ostream& out, const DataFolder& folder = {});

// The sum for given coefficients: on a grid, rounded to single precision;
// and for one Q, unrounded. Neither checks the range.
void foq_wk_qn(std::span<double> fq, std::span<const double> q, const FormFactorParams& p);
double foq_wk_q1(double q, const FormFactorParams& p);

}  // namespace talvo
