// The full published table of neutron scattering lengths and cross-sections
// (data/neutron_sears92.tsv), every column in double precision: what the
// library's material calculation reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/result.hpp"

namespace talvo {

// One row: a natural element (a = 0) or an isotope. A value the list does
// not give is empty.
struct NeutronRow {
  int z = 0;
  int a = 0;
  std::string symbol;
  double mass = 0.0;  // amu: the atomic weight of a natural element, an isotope's mass
  std::optional<double> b_coh, b_coh_im, b_inc, b_inc_im;      // fm
  std::optional<double> sig_coh, sig_inc, sig_scatt, sig_abs;  // barn; sig_abs for 2200 m/s
  int single_a = 0;  // for an element listed only by its natural row: the mass number of its one isotope
};

struct NeutronTable {
  std::string file;
  std::vector<NeutronRow> rows;

  // The row of an element (a = 0) or isotope; the natural row also stands
  // for the one isotope of an element listed only by it (Be, F, Na, ...).
  // The first row that fits, in the order of `rows`.
  const NeutronRow* find(std::string_view symbol, int a) const;

  // Keys for `find`, a compact copy of each row's symbol and mass numbers
  // that it searches instead of the rows: read_neutron_table makes them.
  // After changing the symbol or mass numbers of a row, call it again (rows
  // added or removed are noticed: `find` then searches the rows).
  void index();

 private:
  struct Key {
    std::uint64_t symbol = 0;  // the symbol's bytes and its length; 0 for one longer than 7
    int a = 0, single_a = 0;
  };
  std::vector<Key> keys_;
};

// Reads the table: "#" lines are comments, the first other line names the
// columns (Z, A, symbol, mass, b_coh, b_coh_im, b_inc, b_inc_im, sig_coh,
// sig_inc, sig_scatt, sig_abs, and optionally single_A), TAB-separated.
// Errors: kNotFound when the file cannot be opened, kParseError for no header
// line, a missing column or a value that is not a number (the message names
// the file and line), kIoError when reading fails.
Result<NeutronTable> read_neutron_table(const std::string& file);

}  // namespace talvo
