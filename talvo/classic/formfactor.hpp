// X-ray form factors with the classic interface: f(Q) = c + sum_j a_j
// exp(-b_j s^2), s = Q / 4 pi, from the Waasmaier-Kirfel (5 terms) or
// International Tables (4 terms) coefficients rounded to single precision,
// held in the program or read from a data file, with error numbers and print
// flags. The double-precision form factors are in talvo/xray/formfactor.hpp
// and talvo/xray/xray_average.hpp.
#pragma once

#include <iosfwd>
#include <span>
#include <string>
#include <string_view>

#include "talvo/files/data_folder.hpp"
#include "talvo/classic/status.hpp"
#include "talvo/xray/formfactor.hpp"

namespace talvo::classic {

// Where the coefficients come from; any other value is Error 7.
enum class DataMode { kTablesInProgram = 0, kDataFile = 1 };
// Which parameterisation; any other value is Error 11.
enum class FoqMode { kWaasmaierKirfel = 1, kInternationalTables = 3 };

// Largest Q of the coefficient data: 24 pi, that is s = 6 per Angstrom.
inline constexpr double kFoqQmax = kWkQmax;

// Coefficients of an element, from the tables held in the program or from
// "wk_neutral.foqdat" / "it_neutral.foqdat" in the data folder `folder`.
// The symbol is read as 2 characters. Errors 1-7 with the messages of the
// library.
Status get_wkpar_neut(std::string_view symbol, FormFactorParams& p, int iprint, DataMode data_mode, std::ostream& out,
                      const DataFolder& folder = {});
Status get_itpar_neut(std::string_view symbol, FormFactorParams& p, int iprint, DataMode data_mode, std::ostream& out,
                      const DataFolder& folder = {});

// The tables held in the program only; p.n (at most 5 resp. 4) says how many
// terms to copy. Error 6 when the element is not in the table.
Status get_wkpar_neut_data(std::string_view symbol, FormFactorParams& p, int iprint, std::ostream& out);
Status get_itpar_neut_data(std::string_view symbol, FormFactorParams& p, int iprint, std::ostream& out);

// f(Q) for every Q of the grid (fq must be as long as q), rounded to single
// precision; p receives the coefficients used. A last Q beyond 24 pi is
// Error 9, a warning: the values are still computed.
Status foq(std::span<double> fq, std::span<const double> q, FormFactorParams& p, std::string_view symbol,
           FoqMode ifoqmode, DataMode data_mode, int iprint, std::ostream& out, const DataFolder& folder = {});

// foq by atomic number; symbol (2 characters, blank-padded) and weight
// receive the element found.
Status zfoq(std::span<double> fq, std::span<const double> q, FormFactorParams& p, double& weight, std::string& symbol,
            int z, FoqMode ifoqmode, DataMode data_mode, int iprint, std::ostream& out, const DataFolder& folder = {});

// The sum for given coefficients: on a grid, rounded to single precision;
// and for one Q, unrounded. Neither checks the range.
void foq_wk_qn(std::span<double> fq, std::span<const double> q, const FormFactorParams& p);
double foq_wk_q1(double q, const FormFactorParams& p);

}  // namespace talvo::classic
