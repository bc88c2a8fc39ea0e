// What the offline page asks of the library, bound to JavaScript with embind:
// a material's neutron values as the JSON `talvo-tools xs --json` prints, over
// one wavelength or a range, and the page's rounding of numbers for reading.
// The inputs arrive as the text the user typed and are read by the same number
// parser the command line uses, so that a value means the same in both.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/neutron/material.hpp"
#include "talvo/neutron/neutron_table.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/words.hpp"

namespace {

using emscripten::val;

// Embedded in the script at the root of its file system (web/CMakeLists.txt).
constexpr const char* kNeutronTableFile = "neutron_sears92.tsv";
// The page draws a row and a plot point for each wavelength of a range.
constexpr double kMaxWavelengths = 2001;

std::string trimmed(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  return std::string(talvo::trim_end(t));
}

// An empty field is a value not given; anything else must read as a number.
bool read_number(const std::string& text, const char* what, std::optional<double>& out, std::string& error) {
  const std::string t = trimmed(text);
  if (t.empty()) return true;
  out = talvo::parse_real(t);
  if (!out) error = std::string(what) + " is not a number: " + t;
  return out.has_value();
}

// One wavelength, or FROM:TO:STEP with the ends included, as the command line
// reads its grids: a last point within a thousandth of a step of TO counts.
bool read_wavelengths(const std::string& text, std::vector<double>& out, std::string& error) {
  const std::string t = trimmed(text);
  if (t.empty()) {
    out = {talvo::kThermalWavelength};
    return true;
  }
  std::vector<double> parts;
  for (std::size_t start = 0;;) {
    const std::size_t colon = t.find(':', start);
    std::optional<double> v;
    if (!read_number(t.substr(start, colon == std::string::npos ? std::string::npos : colon - start), "wavelength",
                     v, error))
      return false;
    if (!v) {
      error = "a wavelength range is FROM:TO:STEP: " + t;
      return false;
    }
    parts.push_back(*v);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() == 1) {
    out = parts;
    return true;
  }
  if (parts.size() != 3 || !(parts[2] > 0) || !std::isfinite(parts[0]) || !std::isfinite(parts[1]) ||
      !std::isfinite(parts[2])) {
    error = "a wavelength range is FROM:TO:STEP with STEP > 0: " + t;
    return false;
  }
  const double from = parts[0], to = parts[1], step = parts[2];
  const double count = std::max(0.0, std::floor((to - from) / step + 1e-3) + 1);
  if (count > kMaxWavelengths) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "the range %s has %.0f wavelengths, at most %.0f", t.c_str(), count,
                  kMaxWavelengths);
    error = buf;
    return false;
  }
  out.clear();
  for (std::size_t i = 0; i <= static_cast<std::size_t>(count); ++i) {
    const double v = from + static_cast<double>(i) * step;
    if (v > to + step / 1000) break;
    out.push_back(v);
  }
  if (out.empty()) error = "the range " + t + " holds no wavelength";
  return !out.empty();
}

const talvo::NeutronTable* neutron_table(std::string& error) {
  static talvo::NeutronTable table;
  static talvo::Status status = talvo::read_neutron_table(kNeutronTableFile, table);
  if (status.failed()) error = status.message;
  return status.failed() ? nullptr : &table;
}

val string_array(const std::vector<std::string>& items) {
  val a = val::array();
  for (const std::string& s : items) a.call<void>("push", s);
  return a;
}

// {error, warnings, rows, json}: rows holds the material's JSON at each
// wavelength; json is what the page copies, the one object (as `xs --json`
// prints it) for one wavelength and their array for a range.
val neutron(const std::string& formula, const std::string& density, const std::string& thickness,
            const std::string& wavelength) {
  val out = val::object();
  std::string error;
  std::vector<std::string> rows;
  talvo::MaterialOptions options;
  std::vector<double> wavelengths;
  const talvo::NeutronTable* table = neutron_table(error);
  if (table && read_number(density, "density", options.density, error) &&
      read_number(thickness, "thickness", options.thickness, error) && read_wavelengths(wavelength, wavelengths, error)) {
    for (double w : wavelengths) {
      options.wavelength = w;
      talvo::Material m;
      if (talvo::Status s = talvo::material_from_formula(formula, *table, options, m); s.failed()) {
        error = s.message;
        rows.clear();
        break;
      }
      rows.push_back(talvo::material_json(m));
    }
  }
  std::string json;
  if (rows.size() == 1) {
    json = rows[0];
  } else if (!rows.empty()) {
    json = "[";
    for (const std::string& r : rows) json += (json.size() > 1 ? ", " : "") + r;
    json += "]";
  }
  out.set("error", error);
  out.set("warnings", string_array({}));
  out.set("rows", string_array(rows));
  out.set("json", json);
  return out;
}

// A number as the page shows it: printf's %.6g, ASCII digits and "-".
std::string format_g(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", value);
  return buf;
}

}  // namespace

EMSCRIPTEN_BINDINGS(talvo_web) {
  emscripten::function("neutron", &neutron);
  emscripten::function("formatG", &format_g);
}
