#include "talvo/neutron/neutron_table.hpp"

#include <array>
#include <cstdint>
#include <optional>

#include "talvo/files/files.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/free_format.hpp"

namespace talvo {
namespace {

std::vector<std::string_view> split_tabs(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    const auto tab = line.find('\t');
    fields.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}

}  // namespace

namespace {

// A symbol of 1 to 7 bytes and its length in one number (0 for any other).
std::uint64_t packed_symbol(std::string_view symbol) {
  if (symbol.empty() || symbol.size() > 7) return 0;
  std::uint64_t packed = symbol.size();
  for (const char c : symbol) packed = packed << 8 | static_cast<unsigned char>(c);
  return packed;
}

// The first row i with fits(i, a), where an isotope (a != 0) may be fitted by
// the natural row standing for it; then an isotope row of its own wins.
template <class Fits>
std::optional<std::size_t> first_fit(std::size_t count, int a, const Fits& fits) {
  for (std::size_t i = 0; i < count; ++i)
    if (fits(i, a, true)) {
      if (a != 0 && !fits(i, a, false))
        for (std::size_t own = 0; own < count; ++own)
          if (fits(own, a, false)) return own;
      return i;
    }
  return std::nullopt;
}

}  // namespace

const NeutronRow* NeutronTable::find(std::string_view symbol, int a) const {
  const std::uint64_t packed = packed_symbol(symbol);
  std::optional<std::size_t> i;
  if (packed != 0 && keys_.size() == rows.size()) {
    i = first_fit(keys_.size(), a, [&](std::size_t k, int wanted, bool natural_stands_in) {
      const Key& key = keys_[k];
      return key.symbol == packed &&
             (key.a == wanted || (natural_stands_in && wanted != 0 && key.a == 0 && key.single_a == wanted));
    });
  } else {
    i = first_fit(rows.size(), a, [&](std::size_t k, int wanted, bool natural_stands_in) {
      const NeutronRow& r = rows[k];
      return r.symbol == symbol &&
             (r.a == wanted || (natural_stands_in && wanted != 0 && r.a == 0 && r.single_a == wanted));
    });
  }
  return i ? &rows[*i] : nullptr;
}

void NeutronTable::index() {
  keys_.clear();
  keys_.reserve(rows.size());
  for (const NeutronRow& r : rows) keys_.push_back({packed_symbol(r.symbol), r.a, r.single_a});
}

Result<NeutronTable> read_neutron_table(const std::string& file) {
  Result<InputFile> input = InputFile::open(file);
  if (!input.ok())
    return with_context(input, "cannot open the neutron table " + file + ": ");
  std::istream& in = input->stream();
  const auto bad = [&](long long line, const std::string& what) {
    return make_error(ErrorKind::kParseError, file + ", line " + free_int(line) + ": " + what);
  };
  enum Column {
    kZ,
    kA,
    kSymbol,
    kMass,
    kBCoh,
    kBCohIm,
    kBInc,
    kBIncIm,
    kSigCoh,
    kSigInc,
    kSigScatt,
    kSigAbs,
    kSingleA
  };
  constexpr std::array<std::string_view, 13> kNames = {"Z",         "A",       "symbol",   "mass",    "b_coh",
                                                       "b_coh_im",  "b_inc",   "b_inc_im", "sig_coh", "sig_inc",
                                                       "sig_scatt", "sig_abs", "single_A"};
  std::array<int, kNames.size()> column;
  column.fill(-1);
  NeutronTable read;
  read.file = file;
  std::string text;
  long long number = 0;
  bool header = false;
  for (;;) {
    const Result<bool> got = read_line(in, text);
    if (got.ok() && !*got) break;
    ++number;
    if (!got.ok()) return bad(number, got.error().message);
    if (text.empty() || text[0] == '#') continue;
    const std::vector<std::string_view> fields = split_tabs(text);
    if (!header) {
      for (std::size_t f = 0; f < fields.size(); ++f)
        for (std::size_t c = 0; c < kNames.size(); ++c)
          if (fields[f] == kNames[c]) column[c] = static_cast<int>(f);
      for (std::size_t c = 0; c < kSingleA; ++c)
        if (column[c] < 0) return bad(number, "no column " + std::string(kNames[c]));
      header = true;
      continue;
    }
    const auto get = [&](std::size_t c) -> std::string_view {
      const int f = column[c];
      return f >= 0 && static_cast<std::size_t>(f) < fields.size() ? fields[static_cast<std::size_t>(f)]
                                                                   : std::string_view();
    };
    NeutronRow r;
    const auto integer = [&](std::size_t c, int& v) {
      const auto x = parse_int(get(c));
      if (x) v = *x;
      return x.has_value();
    };
    if (!integer(kZ, r.z) || !integer(kA, r.a)) return bad(number, "Z and A must be whole numbers");
    if (!get(kSingleA).empty() && !integer(kSingleA, r.single_a)) return bad(number, "single_A is no whole number");
    r.symbol = std::string(get(kSymbol));
    if (r.symbol.empty()) return bad(number, "no symbol");
    const auto mass = parse_real(get(kMass));
    if (!mass) return bad(number, "no mass");
    r.mass = *mass;
    std::optional<double>* values[] = {&r.b_coh,   &r.b_coh_im, &r.b_inc,     &r.b_inc_im,
                                       &r.sig_coh, &r.sig_inc,  &r.sig_scatt, &r.sig_abs};
    for (std::size_t c = kBCoh; c <= kSigAbs; ++c) {
      const std::string_view v = get(c);
      if (v.empty()) continue;
      const auto x = parse_real(v);
      if (!x) return bad(number, std::string(kNames[c]) + " is not a number: " + std::string(v));
      *values[c - kBCoh] = *x;
    }
    read.rows.push_back(std::move(r));
  }
  if (in.bad()) return make_error(ErrorKind::kIoError, "cannot read the neutron table " + file);
  if (!header || read.rows.empty()) return make_error(ErrorKind::kParseError, file + " holds no table");
  read.index();
  return read;
}

}  // namespace talvo
