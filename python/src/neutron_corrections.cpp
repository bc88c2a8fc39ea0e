// talvo.neutron_corrections(): a neutron sample's attenuation, multiple
// scattering or Placzek correction at a list of 2theta, with the keywords of
// the corrections' declared option table.
#include <pybind11/stl.h>

#include <string>
#include <utility>
#include <vector>

#include "python/src/core.hpp"
#include "python/src/results.hpp"
#include "talvo/pdf/neutron_corrections.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/quote.hpp"

namespace talvo::python {
namespace {

// A sequence of numbers, each checked as a number.
std::vector<double> numbers_of(const py::handle& v, const char* what) {
  if (!py::isinstance<py::sequence>(v) && !py::isinstance<py::array>(v))
    throw py::type_error(std::string(what) + " must be \"FROM:TO:STEP\", a list of angles or a sequence of numbers, not " +
                         type_name(v));
  std::vector<double> out;
  for (const py::handle item : v) out.push_back(number_arg(item, what));
  return out;
}

struct NeutronCorrectionsTag {};
using NeutronCorrections = Typed<NeutronCorrectionsTag>;

constexpr Field kNeutronCorrectionsFields[] = {
    {"correction", Kind::kText},  // attenuation, multiple-scattering or placzek
    {"twotheta", Kind::kArray},   // degrees
    {"columns", Kind::kArrayDict},  // by the column's name, each beside twotheta
    {"sigma", Kind::kArrayDict},    // each column's statistical sigma, where the method has one
    {"settings", Kind::kTexts},     // "key = value" lines that rerun it
    {"notes", Kind::kTexts},        // the tables, conventions and methods used
    {"warnings", Kind::kTexts},
};

py::object neutron_corrections(const std::string& correction, const py::kwargs& kw) {
  const std::optional<pdf::NeutronCorrection> which = pdf::neutron_correction_named(correction);
  if (!which)
    raise_invalid("no correction is called " + quote_for_message(correction) +
                  ": attenuation, multiple-scattering or placzek");
  const OptionTable& table = pdf::neutron_correction_options();
  // twotheta: "FROM:TO:STEP", a list as text, or a sequence of angles.
  py::kwargs given = kw;
  if (given.contains("twotheta") && !py::isinstance<py::str>(given["twotheta"]) && !given["twotheta"].is_none()) {
    std::string list;
    for (const double angle : numbers_of(given["twotheta"], "twotheta")) list += (list.empty() ? "" : ",") + shortest(angle);
    given["twotheta"] = py::str(list);
  }
  const Options options =
      take(read_options(table, keyword_values(table, given, "neutron_corrections"), Spelling::kKeyword));
  Result<pdf::NeutronCorrectionRun> ran = pdf::run_neutron_correction(*which, options, neutron_table());
  // A measured cross-section file that cannot be read is an OSError, as every file's is.
  if (!ran.ok()) raise(ran.error(), ran.error().system_error != 0 ? About::kFile : About::kValue);
  for (const std::string& w : ran.warnings()) warn(w);
  const pdf::NeutronCorrectionRun& run = *ran;
  const std::size_t n = run.rows.size(), k = run.columns.size();
  std::vector<double> twotheta(n);
  py::dict columns, sigma;
  for (std::size_t i = 0; i < n; ++i) twotheta[i] = run.rows[i].at(0);
  for (std::size_t c = 1; c < k; ++c) {
    std::vector<double> column(n), error(run.sigmas.empty() ? 0 : n);
    for (std::size_t i = 0; i < n; ++i) {
      column[i] = run.rows[i].at(c);
      // A row of sigmas stands beside the columns after twotheta.
      if (!run.sigmas.empty()) error[i] = run.sigmas[i].at(run.sigmas[i].size() + 1 == k ? c - 1 : c);
    }
    columns[py::str(run.columns[c])] = to_numpy(std::move(column));
    if (!run.sigmas.empty()) sigma[py::str(run.columns[c])] = to_numpy(std::move(error));
  }
  NeutronCorrections out;
  out.v = {py::str(std::string(pdf::neutron_correction_name(*which))),
           to_numpy(std::move(twotheta)),
           columns,
           sigma,
           lines_of(run.settings),
           py::cast(run.notes),
           py::cast(ran.warnings())};
  return make_result(std::move(out));
}

constexpr const char* kNeutronCorrectionsText = R"(--

A neutron sample's corrections from a described sample, container and
instrument, as `talvo-tools ncorr CORRECTION` makes them: correction is
"attenuation" (the Paalman-Pings factors A_s,sc A_c,sc A_c,c, or A_s,s
without a container), "multiple-scattering" (delta, all orders beyond the
first over the single, both attenuated, and delta2, the double scattering
alone, each with its Monte Carlo sigma) or "placzek" (P, the self
scattering's departure from sigma_s/4pi as a fraction of it). The keywords
are ncorr's options (lengths in mm unless a unit is given, the wavelength
in Angstrom, twotheta a list or "FROM:TO:STEP" in degrees). Returns a
NeutronCorrections: twotheta, columns and sigma by the column's name,
settings that rerun it, notes on the tables and methods, and warnings.
Raises ValueError for options a correction cannot use.)";

}  // namespace

void init_neutron_corrections(py::module_& m) {
  define<NeutronCorrectionsTag>(m, "NeutronCorrections",
                                "A neutron sample's corrections at a list of 2theta (see neutron_corrections()).",
                                kNeutronCorrectionsFields);
  static const std::string doc = "neutron_corrections(correction, *" +
                                 keywords_text(pdf::neutron_correction_options()) + ")\n" + kNeutronCorrectionsText;
  m.def("neutron_corrections", &neutron_corrections, doc.c_str(), py::arg("correction"));
}

}  // namespace talvo::python
