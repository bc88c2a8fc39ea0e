// A reduction's summary, one table: each value's name (the key of talvo-tools
// pdf's JSON line, the attribute of the Python result, the field of the
// page's summary), its unit, what it is, and how it is taken from a
// reduction. Every front end takes the summary's names and values from here;
// the curves (I, S, F, G and their sigmas) are the reduction's own arrays.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "talvo/pdf/neutron_reduce.hpp"
#include "talvo/pdf/reduce.hpp"
#include "talvo/text/json.hpp"

namespace talvo::pdf {

// A value of the summary: none (what the reduction has not: a wavelength, a
// density, the self-checks of an ad hoc reduction), a number, a whole number,
// a flag or a text.
using SummaryValue = std::variant<std::monostate, double, long long, bool, std::string>;

enum class SummaryKind { kNumber, kWhole, kFlag, kText };

// Where a value belongs: the reduction's own, or its self-checks (physical
// mode: Diagnostics), which Python gathers in its `diagnostics` dict.
enum class SummaryGroup { kReduction, kDiagnostics };

struct SummaryField {
  std::string_view name;  // "normalization_constant"
  SummaryKind kind;
  SummaryGroup group;
  std::string_view unit;     // "1/A"; empty for a number without one
  std::string_view meaning;  // one line, as a docstring says it
  // None is left out of the JSON line rather than written null (a wavelength
  // the pattern did not have, the tables of a reduction without one).
  bool omitted_when_none;
  SummaryValue (*value)(const Reduction& r, const ReductionOptions& o);
};

// Every value in the order of the JSON line.
std::span<const SummaryField> summary_fields();

// The field named `name`; null when there is none.
const SummaryField* find_summary_field(std::string_view name);

// The summary as members of a JSON object, in the table's order: a none as
// null (or left out, for a field omitted_when_none), the self-checks only
// where the reduction made them.
void append_summary_json(json::Object& object, const Reduction& r, const ReductionOptions& o);

// The neutron reduction's summary, the same way: each value's name (the key
// of its JSON line), unit, meaning, and how it is taken from the reduction.
struct NeutronSummaryField {
  std::string_view name;
  SummaryKind kind;
  SummaryGroup group;
  std::string_view unit;
  std::string_view meaning;
  SummaryValue (*value)(const NeutronReduction& r);
};

// Every value in the order of the JSON line.
std::span<const NeutronSummaryField> neutron_summary_fields();

// The summary as members of a JSON object, in the table's order, a none as null.
void append_summary_json(json::Object& object, const NeutronReduction& r);

}  // namespace talvo::pdf
