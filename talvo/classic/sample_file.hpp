// Sample description files (.sample): the composition of one scattering
// unit and the sample density.
//
// Layout, one record per line:
//   1. the creator name          2. the associated data file
//   3. n and the sample kind (1 natural elements, 2 isotopes)
//   4. kind 1: per element "A2 F9.7" (symbol, amount);
//      kind 2: per element "A2 n F9.7" (symbol, isotope count, amount), then
//      per isotope "I4 F9.7 A2" (mass number, fraction, element symbol)
//   5. the density, F10.7 (g/cm3 if positive, atoms/A3 if negative, 0 unknown)
// Numbers too wide for their field are written wider, never as asterisks.
#pragma once

#include <iosfwd>
#include <string>

#include "talvo/elements/composition.hpp"
#include "talvo/files/read.hpp"  // kMaxLineLength
#include "talvo/files/write.hpp"
#include "talvo/classic/status.hpp"

namespace talvo::classic {

// Creates the file (replacing one of the same name only once it is complete)
// and writes the records. Errors: 1 the file cannot be created, 2 it cannot
// be written completely.
Status write_sample(const std::string& file_name, const std::string& creator, const std::string& associated_file,
                    const Composition& sample, int unit, std::ostream& console, const NewFileOptions& options = {});

// Reads an open sample file into `sample` (which is left as it was on an
// error). Amounts are normalised to fractions of one when they do not add to
// one; the density is returned as stored. Element symbols are 2 characters.
// Errors 101-107 as documented (a record longer than kMaxLineLength is a read
// error, 101), and 108 (number of elements not 1-100), 109 (isotope count not
// 1-20), 110 (amounts not adding to more than zero), 111 (an amount not above
// zero), 112 (a negative isotope fraction), 113 (amounts adding beyond single
// precision), or the error of the
// density conversion. With iprint 1 each step is reported on `out`.
Status read_sample(std::istream& in, Composition& sample, int iprint, std::ostream& out);

}  // namespace talvo::classic
