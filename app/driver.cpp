#include "app/driver.hpp"

#include <fstream>
#include <ostream>

#include "app/averages.hpp"
#include "app/composition.hpp"
#include "app/nuclear_tables.hpp"
#include "app/report.hpp"
#include "app/run_end.hpp"
#include "talvo/console/print.hpp"
#include "talvo/console/prompts.hpp"
#include "talvo/files/files.hpp"
#include "talvo/sample/sample_file.hpp"
#include "talvo/text/words.hpp"

namespace talvo {
namespace {

constexpr std::size_t kNameLength = 200;
constexpr std::size_t kFileSpecLength = 100;
constexpr int kReportUnit = 10;
constexpr int kSampleUnit = 11;
constexpr int kRecordLength = 132;
constexpr int kSampleReadPrint = 1;

// True when `text` ends in `suffix`, compared case-blind.
bool ends_with_blind(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && ach_case_blind_compare(text.substr(text.size() - suffix.size()), suffix) == 0;
}

int ask_option(Console& con) {
  for (;;) {
    int option = 1;
    get_intd(con, option, "option", 1);
    if (option >= -1 && option <= 2) return option;
  }
}

struct SampleSource {
  std::string name;  // without ".sample"
  SampleData data;
};

// Menu option -1; nothing when the user typed "abort".
std::optional<SampleSource> read_sample_file(Console& con) {
  std::string name;
  for (;;) {
    int nchar = 0;
    get_stringd(con, name, "name only for input .SAMPLE file", nchar, 0, kNameLength);
    name = std::string(trim_end(name));
    if (!name.empty()) break;
  }
  if (name.size() == 5 && ach_case_blind_compare(name, "abort") == 0) return std::nullopt;
  if (ends_with_blind(name, ".sample")) name.resize(name.size() - 7);
  const auto file = check_file(name + ".sample", kCheckMustExist, &con);
  if (!file) throw RunEnd(kFailureStatus);
  std::ifstream in(*file, std::ios::binary);
  SampleSource source{name, {}};
  const Status s = read_sample(in, source.data, kSampleReadPrint, con.out);
  if (!s.ok()) {
    pr_int(con.out, "read_sample reports error number ", s.ierr);
    line(con, " " + std::string(trim_end(s.message)));
    throw RunEnd(kFailureStatus);
  }
  line(con, "");
  return source;
}

Composition composition_from(const SampleData& d) {
  Composition c;
  c.kind = d.kind;
  c.density = d.density;
  for (std::size_t i = 0; i < d.symbols.size(); ++i) {
    Element e{d.symbols[i], d.amounts[i], {}};
    for (std::size_t j = 0; j < d.mass_numbers[i].size(); ++j)
      e.isotopes.push_back({d.mass_numbers[i][j], d.fractions[i][j]});
    c.elements.push_back(std::move(e));
  }
  return c;
}

SampleData sample_from(const Composition& c) {
  SampleData d;
  d.kind = c.kind;
  d.density = c.density;
  for (const Element& e : c.elements) {
    d.symbols.push_back(e.symbol);
    d.amounts.push_back(e.amount);
    d.isotope_counts.push_back(static_cast<int>(e.isotopes.size()));
    std::vector<int> a;
    std::vector<float> y;
    for (const Isotope& iso : e.isotopes) a.push_back(iso.a), y.push_back(iso.fraction);
    d.mass_numbers.push_back(std::move(a));
    d.fractions.push_back(std::move(y));
  }
  return d;
}

std::string choose_data_file(Console& con, const DataPrefix& prefix, int kind) {
  std::string name = data_file_name(prefix.prefix(), kind == kNaturalElements ? "sears91.dat" : "sears.ascii");
  line(con, " Default cross-section data file is " + name);
  prompt(con, " Type CR to accept, or give alternative file spec. > ");
  const std::string reply(trim_end(read_reply(con).substr(0, kFileSpecLength)));
  if (!reply.empty()) name = reply;
  if (!check_file(name, kCheckMustExist, &con)) throw RunEnd(kFailureStatus);
  return name;
}

std::vector<NuclearEntry> load_tables(Console& con, const DataPrefix& prefix, int kind, const std::string& name) {
  std::vector<NuclearEntry> entries;
  if (kind == kNaturalElements) {
    entries = read_natural_file(con, name);
  } else {
    entries = read_isotope_file(con, name);
    const std::string weights = data_file_name(prefix.prefix(), "at_weights.dat");
    if (!check_file(weights, kCheckMustExist, &con)) throw RunEnd(kFailureStatus);
    attach_masses(con, entries, read_atomic_weights(con, weights));
  }
  report_loaded(con, name, entries.size());
  return entries;
}

int run(Console& con, const DataPrefix& prefix, const NewFileOptions& files) {
  line(con, "");
  con.out << banner_lines().text;
  line(con, "");
  for (const char* item :
       {" Options...", " -1) Read .sample file", "  0) Exit", "  1) Natural elements", "  2) Isotopes"})
    line(con, item);
  const int option = ask_option(con);
  if (option == 0) return 0;
  line(con, "");

  std::optional<SampleSource> from_file;
  int kind = option;
  if (option == -1) {
    from_file = read_sample_file(con);
    if (!from_file) return 0;
    kind = from_file->data.kind;
  }

  const std::string data_file = choose_data_file(con, prefix, kind);
  const std::vector<NuclearEntry> table = load_tables(con, prefix, kind, data_file);
  const Composition comp = from_file ? composition_from(from_file->data) : enter_composition(con, kind);

  // Match the composition and show the primary data.
  line(con, "");
  line(con, " Units: b in fm, sigma in barns, A in amu (12C)");
  line(con, "");
  line(con, " PRIMARY DATA...");
  std::vector<const NuclearEntry*> matched;
  std::vector<std::vector<IsotopeData>> data;
  line(con, primary_data_header());
  for (const Element& e : comp.elements) {
    data.emplace_back();
    for (const Isotope& iso : e.isotopes) {
      const NuclearEntry* entry = find_entry(table, e.symbol, kind == kNaturalElements ? 0 : iso.a);
      if (!entry) {
        line(con, " An element was not found in the file " + data_file);
        throw RunEnd(kFailureStatus);
      }
      matched.push_back(entry);
      line(con, primary_data_line(*entry));
      data.back().push_back({entry->b, static_cast<float>(entry->mass), entry->sig_scatt, entry->sig_abs});
    }
  }
  const Results results = compute_averages(comp, data);

  // Name and open the report.
  std::string report = from_file ? from_file->name : std::string();
  int nchar = static_cast<int>(report.size());
  get_stringd(con, report, "name only for output .TALVO file", nchar, from_file ? 1 : 0, kNameLength);
  report = std::string(trim_end(report));
  if (report.size() > 6 && ends_with_blind(report, ".talvo")) report.resize(report.size() - 6);
  const std::string report_file = report + ".talvo";
  auto file = open_new_file(con.out, kReportUnit, report_file, kRecordLength, files);
  if (!file) throw RunEnd(kFailureStatus);
  line(con, " Output is written to file " + report_file);
  file->stream() << report_head_lines(data_file, matched).text;

  const std::string block = results_lines(comp, results).text;
  con.out << block;
  file->stream() << block;
  if (!file->commit()) {
    pr_int(con.out, "Error writing data to iunit = ", kReportUnit);
    throw RunEnd(kFailureStatus);
  }
  line(con, "");
  line(con, " Output is written to file " + report_file);

  if (!from_file) {
    const std::string sample_file = report + ".sample";
    line(con, " Saving sample information to file " + sample_file);
    const Status s = write_sample(sample_file, "talvo", data_file, sample_from(comp), kSampleUnit, con.out, files);
    if (!s.ok()) {
      line(con, " " + s.message);
      return kFailureStatus;
    }
  }
  return 0;
}

}  // namespace

int run_talvo(Console& con, const DataPrefix& prefix, const NewFileOptions& files) {
  try {
    return run(con, prefix, files);
  } catch (const RunEnd& end) {
    con.out.flush();
    return end.status();
  } catch (const EndOfInput&) {
    line(con, "");
    line(con, " Input ended before the question was answered: TALVO stops");
    con.out.flush();
    return kFailureStatus;
  }
}

}  // namespace talvo
