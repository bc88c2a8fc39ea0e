#include "talvo/classic/nuclear_tables.hpp"

#include <optional>
#include <unordered_map>

#include "talvo/classic/fields.hpp"
#include "talvo/elements/elements.hpp"
#include "talvo/files/files.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/words.hpp"

namespace talvo::classic {
namespace {

Status missing(const std::string& name) { return Status::error(kTableMissing, "Failure locating file " + name); }
Status unreadable(const std::string& name) { return Status::error(kTableUnreadable, "Error reading file " + name); }

Status too_many() {
  return Status::error(kTooManyEntries,
                       "The data file has more than the maximum allowed number of entries " + free_int(kMaxEntries));
}

// A data table read line by line. Only a regular file is read: a FIFO would
// hang the reader, a device never end. A line beyond the line limit, or a
// read error, ends the reading and makes the file unreadable.
class TableLines {
 public:
  explicit TableLines(const std::string& name) : name_(name), file_(InputFile::open(name)) {}
  // Success, or why the file cannot be read at all.
  Status opened() const {
    if (file_.ok()) return {};
    return file_.kind() == ErrorKind::kNotFound ? missing(name_) : unreadable(name_);
  }
  // The next line without its line end; false at the end or on a failure.
  bool next(std::string& text) {
    if (!file_.ok()) return false;
    const Result<bool> got = read_line(file_->stream(), text);
    if (!got.ok()) broken_ = true;
    return got.ok() && *got;
  }
  // True when the reading stopped on a failure rather than at the end.
  bool broken() { return broken_ || !file_.ok() || file_->stream().bad(); }

 private:
  const std::string& name_;
  Result<InputFile> file_;
  bool broken_ = false;
};

// The text of a fixed-column field (1-based first column) without its blanks.
std::string_view field(const std::string& text, int column, int width) {
  std::string_view f =
      std::string_view(text).substr(static_cast<std::size_t>(column - 1), static_cast<std::size_t>(width));
  while (!f.empty() && f.front() == ' ') f.remove_prefix(1);
  return trim_end(f);
}

// A fixed-column real: nothing when it is not a number; blank is 0. Without a
// decimal point, d decimals are implied.
std::optional<double> fixed_real(const std::string& text, int column, int width, int d) {
  const std::string_view f = field(text, column, width);
  if (f.empty()) return 0.0;
  auto v = parse_real(f);
  if (!v) return std::nullopt;
  if (f.find_first_of(".eEdD") == std::string_view::npos) {
    for (int i = 0; i < d; ++i) *v /= 10.0;
  }
  return v;
}

std::optional<int> fixed_int(const std::string& text, int column, int width) {
  const std::string_view f = field(text, column, width);
  if (f.empty()) return 0;
  return parse_int(f);
}

}  // namespace

Status read_natural_file(const std::string& name, NuclearTable& table) {
  TableLines lines(name);
  if (Status s = lines.opened(); s.failed()) return s;
  std::string text;
  int headers = 0;
  if (!lines.next(text) || !read_free(text, {&headers}) || headers < 0) return unreadable(name);
  for (int i = 0; i < headers; ++i)
    if (!lines.next(text)) return unreadable(name);
  // 1X,I3,2X,F10.6,2X,A2,2X,F10.5,2X,F9.5,2X,F11.5
  constexpr std::size_t kRecord = 56;
  NuclearTable read{name, {}};
  while (lines.next(text)) {
    if (text.size() < kRecord) break;  // the first line that does not fit ends the entries
    auto z = fixed_int(text, 2, 3);
    auto mass = fixed_real(text, 7, 10, 6);
    auto b = fixed_real(text, 23, 10, 5);
    auto s = fixed_real(text, 35, 9, 5);
    auto a = fixed_real(text, 46, 11, 5);
    if (!z || !mass || !b || !s || !a) return unreadable(name);
    if (read.entries.size() >= static_cast<std::size_t>(kMaxEntries)) return too_many();
    NuclearEntry e;
    e.z = *z;
    e.mass = *mass;
    e.symbol = text.substr(18, 2);
    e.b = static_cast<float>(*b);
    e.sig_scatt = static_cast<float>(*s);
    e.sig_abs = static_cast<float>(*a);
    read.entries.push_back(e);
  }
  if (lines.broken()) return unreadable(name);
  table = std::move(read);
  return {};
}

Status read_isotope_file(const std::string& name, NuclearTable& table) {
  TableLines lines(name);
  if (Status s = lines.opened(); s.failed()) return s;
  constexpr int kHeaderLines = 38;
  constexpr int kFields = 8;
  std::string text;
  for (int i = 0; i < kHeaderLines; ++i)
    if (!lines.next(text)) return unreadable(name);
  NuclearTable read{name, {}};
  read.entries.reserve(kMaxEntries);
  std::vector<int> tab;
  while (lines.next(text)) {
    std::string& rec = text;
    if (rec.size() > kLineLength) rec.resize(kLineLength);
    for (char& c : rec)
      if (static_cast<unsigned char>(c) == 208) c = '-';
    if (trim_end(rec).empty()) continue;
    // Columns of the TABs; tab[k] ends field k+1.
    tab.clear();
    for (std::size_t i = 0; i < rec.size(); ++i)
      if (rec[i] == '\t') tab.push_back(static_cast<int>(i) + 1);
    if (static_cast<int>(tab.size()) < kFields - 1) return unreadable(name);
    tab.push_back(static_cast<int>(rec.size()) + 1);

    std::string_view label = trim_end(std::string_view(rec).substr(0, static_cast<std::size_t>(tab[0] - 1)));
    while (!label.empty() && label.front() == ' ') label.remove_prefix(1);
    std::size_t digits = 0;
    while (digits < label.size() && label[digits] >= '0' && label[digits] <= '9') ++digits;
    const std::string_view symbol = label.substr(digits);
    if (symbol.empty() || symbol.size() > 2) return unreadable(name);
    NuclearEntry e;
    e.symbol = fixed(symbol, 2);
    if (digits > 0) {
      auto a = parse_int(label.substr(0, digits));
      if (!a) return unreadable(name);
      e.a = *a;
    }
    const std::optional<std::size_t> elem = find_element(e.symbol);
    if (!elem) return unreadable(name);
    e.z = element_table()[*elem].z;
    // Fields 3 (b_coh), 7 (sig_scatt) and 8 (sig_abs) lie between tab[k-2] and tab[k-1].
    if (!strip_real(rec, tab[1], tab[2], e.b) || !strip_real(rec, tab[5], tab[6], e.sig_scatt) ||
        !strip_real(rec, tab[6], tab[7], e.sig_abs))
      return unreadable(name);
    if (read.entries.size() >= static_cast<std::size_t>(kMaxEntries)) return too_many();
    read.entries.push_back(e);
  }
  if (lines.broken()) return unreadable(name);
  table = std::move(read);
  return {};
}

Status read_atomic_weights(const std::string& name, std::vector<AtomicWeight>& weights) {
  TableLines lines(name);
  if (Status s = lines.opened(); s.failed()) return s;
  // 1X,A2,1X,I3,1X,I3,1X,F10.6
  constexpr std::size_t kRecord = 22;
  std::vector<AtomicWeight> read;
  std::string text;
  while (lines.next(text)) {
    if (trim_end(text).empty()) continue;
    if (text.size() < kRecord) return unreadable(name);
    auto z = fixed_int(text, 5, 3);
    auto a = fixed_int(text, 9, 3);
    auto mass = fixed_real(text, 13, 10, 6);
    if (!z || !a || !mass) return unreadable(name);
    if (read.size() >= static_cast<std::size_t>(kMaxEntries)) return too_many();
    read.push_back({text.substr(1, 2), *z, *a, *mass});
  }
  if (lines.broken()) return unreadable(name);
  weights = std::move(read);
  return {};
}

std::vector<const NuclearEntry*> attach_masses(NuclearTable& table, const std::vector<AtomicWeight>& weights) {
  // By Z and mass number; a later entry of the same pair replaces an earlier one.
  std::unordered_map<long long, const AtomicWeight*> by_nuclide;
  by_nuclide.reserve(weights.size());
  const auto key = [](int z, int a) { return static_cast<long long>(z) * 100000 + a; };
  for (const AtomicWeight& w : weights) by_nuclide[key(w.z, w.a)] = &w;
  std::vector<const NuclearEntry*> assumed;
  for (NuclearEntry& e : table.entries) {
    const auto found = by_nuclide.find(key(e.z, e.a));
    if (found != by_nuclide.end()) {
      e.mass = found->second->mass;
    } else {
      e.mass = static_cast<float>(e.a);
      assumed.push_back(&e);
    }
  }
  return assumed;
}

const NuclearEntry* find_entry(const NuclearTable& table, std::string_view symbol, int a) {
  for (const NuclearEntry& e : table.entries)
    if (e.a == a && same_symbol(e.symbol, symbol)) return &e;
  return nullptr;
}

std::string not_in_table(const NuclearTable& table, std::string_view symbol, int a) {
  const std::string s(trim_end(symbol));
  return (a == 0 ? "Element " + s : "Isotope " + free_int(a) + s) + " is not in " + table.file;
}

Status match_composition(const Composition& c, const NuclearTable& table,
                         std::vector<std::vector<const NuclearEntry*>>& matched) {
  std::vector<std::vector<const NuclearEntry*>> found;
  for (const Element& e : c.elements) {
    found.emplace_back();
    for (const Isotope& iso : e.isotopes) {
      const int a = c.kind == SampleKind::kNaturalElements ? 0 : iso.a;
      const NuclearEntry* entry = find_entry(table, e.symbol, a);
      if (!entry) {
        matched = std::move(found);
        return Status::error(kNotInTable, not_in_table(table, e.symbol, a));
      }
      found.back().push_back(entry);
    }
  }
  matched = std::move(found);
  return {};
}

}  // namespace talvo::classic
