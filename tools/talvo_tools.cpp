// talvo-tools: the command line onto the TALVO library.
//
// Every subcommand prints one result row per line, numbers separated by one
// blank with 17 significant digits, comment lines beginning with "#". An
// error of a routine prints its message on standard error and exits 1 (a
// warning prints its message, then the values, and exits 0); wrong usage
// exits 2.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "talvo/numeric/filon.hpp"
#include "talvo/numeric/moq.hpp"
#include "talvo/sample/density.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/words.hpp"
#include "talvo/version.hpp"
#include "talvo/xray/elements.hpp"
#include "talvo/xray/formfactor.hpp"
#include "talvo/xrdml/xrdml.hpp"

namespace {

using namespace talvo;

constexpr int kUsage = 2;

struct UsageError {
  std::string text;
};

std::string num(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

void row(std::initializer_list<double> values) {
  std::string s;
  for (double v : values) s += (s.empty() ? "" : " ") + num(v);
  std::cout << s << '\n';
}

// Options of the form --name [value]; anything else is a positional argument.
struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
  bool flag(const std::string& name) const { return options.count(name) > 0; }
  std::optional<std::string> get(const std::string& name) const {
    auto it = options.find(name);
    if (it == options.end()) return std::nullopt;
    return it->second;
  }
};

Args parse(int argc, char** argv, int first, const std::vector<std::string>& flags) {
  Args a;
  for (int i = first; i < argc; ++i) {
    std::string s = argv[i];
    if (s.rfind("--", 0) == 0) {
      bool is_flag = false;
      for (const std::string& f : flags) is_flag = is_flag || f == s;
      if (is_flag || s == "--help") {
        a.options[s] = "";
      } else {
        if (i + 1 >= argc) throw UsageError{s + " needs a value"};
        a.options[s] = argv[++i];
      }
    } else {
      a.positional.push_back(s);
    }
  }
  return a;
}

double number(const std::string& text, const std::string& what) {
  auto v = parse_real(text);
  if (!v) throw UsageError{what + " is not a number: " + text};
  return *v;
}

int integer(const std::string& text, const std::string& what) {
  auto v = parse_int(text);
  if (!v) throw UsageError{what + " is not a whole number: " + text};
  return *v;
}

// FROM:TO:STEP, TO included when it falls on the grid within STEP/1000.
std::vector<double> grid(const std::string& spec) {
  std::vector<double> parts;
  std::stringstream ss(spec);
  for (std::string p; std::getline(ss, p, ':');) parts.push_back(number(p, "grid value"));
  if (parts.size() != 3 || !(parts[2] > 0)) throw UsageError{"a grid is FROM:TO:STEP with STEP > 0"};
  const double from = parts[0], to = parts[1], step = parts[2];
  std::vector<double> g;
  for (long long i = 0;; ++i) {
    const double v = from + static_cast<double>(i) * step;
    if (v > to + step / 1000) break;
    g.push_back(v);
    if (g.size() > 100000000) throw UsageError{"grid too large"};
  }
  return g;
}

// Columns of the rows on standard input ("#" lines and blank lines skipped).
std::vector<std::vector<double>> read_columns(std::size_t columns) {
  std::vector<std::vector<double>> cols(columns);
  std::string text;
  while (std::getline(std::cin, text)) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    const WordPositions w = count_word(text);
    if (w.count == 0 || text[static_cast<std::size_t>(w.ipos[0] - 1)] == '#') continue;
    if (static_cast<std::size_t>(w.count) < columns) throw UsageError{"too few columns in: " + text};
    for (std::size_t c = 0; c < columns; ++c) {
      double v = 0;
      if (!read_free(word_text(text, w, static_cast<int>(c + 1)), {&v})) throw UsageError{"not a number in: " + text};
      cols[c].push_back(v);
    }
  }
  return cols;
}

// Prints a routine's message; true when the values are still to be printed.
bool report(const Status& s, bool warning) {
  if (s.ok()) return true;
  std::cerr << s.message << '\n';
  return warning;
}

const char* const kHelp =
    "usage: talvo-tools SUBCOMMAND [ARGS]\n"
    "subcommands:\n"
    "  foq SYMBOL | --z Z   X-ray form factor f(Q) of a neutral atom\n"
    "  element SYMBOL | --z Z   symbol, atomic number and mean atomic weight\n"
    "  density DENSITY SYMBOL AMOUNT ...   g/cm3 <-> atoms per cubic Angstrom\n"
    "  xrdml FILE   2-theta, intensity and error from an XRDML file\n"
    "  moq   modification function M(Q) on a Q grid\n"
    "  filon   sine Fourier integral by Filon's method\n"
    "options: --help (also after a subcommand), --version\n";

const std::map<std::string, std::string> kSubHelp = {
    {"foq",
     "usage: talvo-tools foq SYMBOL [--table wk|it] [--source builtin|file] [--q FROM:TO:STEP]\n"
     "       talvo-tools foq --z Z [same options]\n"
     "Prints \"Q f(Q)\" rows; without --q the Q values are the first column of standard input.\n"
     "Defaults: --table wk (Waasmaier-Kirfel), --source builtin (tables in the program).\n"},
    {"element", "usage: talvo-tools element SYMBOL | --z Z\nPrints \"symbol Z weight\".\n"},
    {"density",
     "usage: talvo-tools density DENSITY SYMBOL AMOUNT [SYMBOL AMOUNT ...]\n"
     "A positive DENSITY in g/cm3 gives atoms per cubic Angstrom; a negative one, atoms per\n"
     "cubic Angstrom, gives g/cm3. Only the ratios of the amounts matter.\n"},
    {"xrdml",
     "usage: talvo-tools xrdml FILE [--scan K] [--cps] [--print LEVEL]\n"
     "Prints \"# wavelength L\", \"# scans N\", then \"x y e\" rows. --scan 0 (default) sums all scans;\n"
     "--cps divides by the counting time.\n"},
    {"moq",
     "usage: talvo-tools moq --option N --qmax Q [--p1 V] [--p2 V] [--histogram]\n"
     "Q values (points, or bin edges with --histogram) from the first column of standard input;\n"
     "prints \"Qe M\" rows. Options: 1 Lorch, 2 step, 3 piecewise quadratic, 4 Gaussian (p1),\n"
     "5 sphere transform (p1 = sub-option 1, 2 with scale p2, or 3).\n"},
    {"filon",
     "usage: talvo-tools filon --k FROM:TO:STEP | --single K\n"
     "\"x f\" rows on an equally spaced grid from standard input; prints \"k integral\" rows of the\n"
     "integral of f(x) sin(kx), or with --single the one value.\n"},
};

int cmd_foq(const Args& a) {
  const bool by_z = a.get("--z").has_value();
  if (a.positional.size() != (by_z ? 0u : 1u)) throw UsageError{"give one SYMBOL or --z Z"};
  const std::string table = a.get("--table").value_or("wk");
  const std::string source = a.get("--source").value_or("builtin");
  if (table != "wk" && table != "it") throw UsageError{"--table is wk or it"};
  if (source != "builtin" && source != "file") throw UsageError{"--source is builtin or file"};
  const std::vector<double> q = a.get("--q") ? grid(*a.get("--q")) : read_columns(1)[0];
  std::vector<double> fq(q.size());
  FormFactorParams p;
  const int mode = table == "wk" ? kWaasmaierKirfel : kInternationalTables;
  const int data = source == "builtin" ? kTablesInProgram : kDataFile;
  Status s;
  if (by_z) {
    std::string symbol;
    double weight = 0;
    s = zfoq(fq, q, p, weight, symbol, integer(*a.get("--z"), "Z"), mode, data, 0, std::cout);
  } else {
    s = foq(fq, q, p, a.positional[0], mode, data, 0, std::cout);
  }
  if (!report(s, s.ierr == 9)) return 1;
  for (std::size_t i = 0; i < q.size(); ++i) row({q[i], fq[i]});
  return 0;
}

int cmd_element(const Args& a) {
  std::string symbol;
  int z = 0;
  double weight = 0;
  Status s;
  if (a.get("--z")) {
    if (!a.positional.empty()) throw UsageError{"give SYMBOL or --z Z"};
    z = integer(*a.get("--z"), "Z");
    s = z2ele(symbol, z, weight, 0, std::cout);
  } else {
    if (a.positional.size() != 1) throw UsageError{"give one SYMBOL"};
    symbol = a.positional[0];
    s = ele2z(symbol, z, weight, 0, std::cout);
    if (s.ok()) symbol = element_table()[static_cast<std::size_t>(find_element(symbol))].symbol;
  }
  if (!report(s, false)) return 1;
  std::cout << trim_end(symbol) << ' ' << z << ' ' << num(weight) << '\n';
  return 0;
}

int cmd_density(const Args& a) {
  if (a.positional.size() < 3 || a.positional.size() % 2 == 0) throw UsageError{"give DENSITY and SYMBOL AMOUNT pairs"};
  const double d = number(a.positional[0], "DENSITY");
  std::vector<std::string> symbols;
  std::vector<double> amounts;
  for (std::size_t i = 1; i < a.positional.size(); i += 2) {
    symbols.push_back(a.positional[i]);
    amounts.push_back(number(a.positional[i + 1], "AMOUNT"));
  }
  double out = 0;
  const Status s = convert_density(d, out, symbols, amounts, 0, std::cout);
  if (!report(s, false)) return 1;
  row({out});
  return 0;
}

int cmd_xrdml(const Args& a) {
  if (a.positional.size() != 1) throw UsageError{"give one FILE"};
  const int scan = a.get("--scan") ? integer(*a.get("--scan"), "--scan") : 0;
  const int level = a.get("--print") ? integer(*a.get("--print"), "--print") : 0;
  std::vector<double> x(kXrdmlMaxPoints), y(kXrdmlMaxPoints), e(kXrdmlMaxPoints);
  // Progress and summary lines go to standard error, keeping standard output to the rows.
  const XrdmlResult r = readxrdml(a.positional[0], x, y, e, scan, a.flag("--cps") ? 1 : 0, level, std::cerr);
  const bool warning = r.status.ierr == 12 || r.status.ierr == 14;
  if (!report(r.status, warning)) return 1;
  std::cout << "# wavelength " << num(r.wavelength) << "\n# scans " << r.scans << '\n';
  for (int j = 0; j < r.points; ++j) {
    const auto k = static_cast<std::size_t>(j);
    row({x[k], y[k], e[k]});
  }
  return 0;
}

int cmd_moq(const Args& a) {
  if (!a.get("--option") || !a.get("--qmax")) throw UsageError{"--option and --qmax are needed"};
  const std::vector<double> q = read_columns(1)[0];
  const std::size_t nm = a.flag("--histogram") ? (q.empty() ? 0 : q.size() - 1) : q.size();
  std::vector<double> m(nm);
  const std::array<double, 2> params = {a.get("--p1") ? number(*a.get("--p1"), "--p1") : 0.0,
                                        a.get("--p2") ? number(*a.get("--p2"), "--p2") : 0.0};
  const Status s =
      moq(q, m, number(*a.get("--qmax"), "--qmax"), params, integer(*a.get("--option"), "--option"), 0, std::cout);
  if (!report(s, false)) return 1;
  const std::vector<double> qe = moq_effective_q(q, nm);
  for (std::size_t j = 0; j < nm; ++j) row({qe[j], m[j]});
  return 0;
}

int cmd_filon(const Args& a) {
  if (a.get("--k").has_value() == a.get("--single").has_value())
    throw UsageError{"give --k FROM:TO:STEP or --single K"};
  auto cols = read_columns(2);
  std::vector<double>& x = cols[0];
  std::vector<double>& f = cols[1];
  if (a.get("--single")) {
    const double k = number(*a.get("--single"), "--single");
    double value = 0;
    const Status s = filon_integral(x, f, x.size() >= 2 ? x[1] - x[0] : 0.0, k, value);
    if (!report(s, false)) return 1;
    row({k, value});
    return 0;
  }
  const std::vector<double> k = grid(*a.get("--k"));
  std::vector<double> result(k.size());
  const Status s = filon_ft(x, f, k, result);
  if (!report(s, false)) return 1;
  for (std::size_t m = 0; m < k.size(); ++m) row({k[m], result[m]});
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string sub = argc > 1 ? argv[1] : "";
  if (sub == "--version") {
    std::cout << "talvo-tools " << talvo::kVersion << '\n';
    return 0;
  }
  if (sub == "--help" || sub == "-h") {
    std::cout << kHelp;
    return 0;
  }
  const std::map<std::string, std::pair<std::function<int(const Args&)>, std::vector<std::string>>> commands = {
      {"foq", {cmd_foq, {}}},
      {"element", {cmd_element, {}}},
      {"density", {cmd_density, {}}},
      {"xrdml", {cmd_xrdml, {"--cps"}}},
      {"moq", {cmd_moq, {"--histogram"}}},
      {"filon", {cmd_filon, {}}},
  };
  const auto it = commands.find(sub);
  if (it == commands.end()) {
    std::cerr << (sub.empty() ? "" : "unknown subcommand: " + sub + "\n") << kHelp;
    return kUsage;
  }
  try {
    const Args a = parse(argc, argv, 2, it->second.second);
    if (a.flag("--help")) {
      std::cout << kSubHelp.at(sub);
      return 0;
    }
    return it->second.first(a);
  } catch (const UsageError& e) {
    std::cerr << "talvo-tools " << sub << ": " << e.text << '\n' << kSubHelp.at(sub);
    return kUsage;
  }
}
