// The values of xray_average, one table: each value's name (the attribute
// of the Python result), how talvo-tools xray-average heads it in its
// comment lines and columns, its unit there and what it is. The front ends
// take names, heads, units and meanings from here.
#pragma once

#include <span>
#include <string_view>

namespace talvo {

struct XrayAverageField {
  std::string_view name;     // "f_mean_sq"
  std::string_view symbol;   // how the output heads it ("<f>2"); the name where empty
  std::string_view unit;     // "electrons^2/A^3"; empty for a number without one
  std::string_view meaning;  // "<f>^2 = (sum c f)^2, with an energy |<f>|^2"
  bool per_q;                // a value at every Q (a column; an array of q's shape in Python)
};

// Every value, in the order of the Python result's fields, then those the
// output names that the result holds within others (energy, f_table, f'
// and f'' of each species).
std::span<const XrayAverageField> xray_average_fields();

// The field by name; nothing when there is none.
const XrayAverageField* find_xray_average_field(std::string_view name);

// How the output heads field `name`: its symbol, else its name; the name
// itself when the table has no such field.
std::string_view xray_average_symbol(std::string_view name);

// The unit of field `name` (empty when it has none or is not there).
std::string_view xray_average_unit(std::string_view name);

}  // namespace talvo
