#include "talvo/classic/sample_file.hpp"

#include <cmath>
#include <istream>
#include <ostream>
#include <sstream>

#include "talvo/classic/density.hpp"
#include "talvo/classic/files.hpp"
#include "talvo/classic/words.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/words.hpp"

namespace talvo::classic {
namespace {

// Fw.7, wider when the value needs it; a non-zero value too small for seven
// decimals is written in exponent form so that it is not read back as zero.
std::string decimal7(float v, int w) {
  std::string s = fmt_f(v, w, 7);
  std::string_view text = s;
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  const auto back = parse_real(text);
  if (v != 0.0f && back && *back == 0.0) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.8E", static_cast<double>(v));
    s = buf;
  }
  return s;
}

}  // namespace

Status write_sample(const std::string& file_name, const std::string& creator, const std::string& associated_file,
                    const Composition& s, int unit, std::ostream& console, const NewFileOptions& options) {
  auto file = open_new_file(console, unit, file_name, 132, options);
  if (!file) return Status::error(1, "write_sample: Cannot create file " + file_name);
  std::ostringstream out;
  const bool isotopes = s.kind == SampleKind::kIsotopes;
  out << trim_end(creator) << '\n' << trim_end(associated_file.substr(0, 100)) << '\n';
  out << s.elements.size() << ' ' << static_cast<int>(s.kind) << '\n';
  for (const Element& e : s.elements) {
    out << fixed(e.symbol, 2) << ' ';
    if (isotopes) out << e.isotopes.size() << ' ';
    out << decimal7(static_cast<float>(e.amount), 9) << '\n';
  }
  if (isotopes)
    for (const Element& e : s.elements)
      for (const Isotope& iso : e.isotopes)
        out << fmt_i(iso.a, 4) << ' ' << decimal7(static_cast<float>(iso.fraction), 9) << ' ' << fixed(e.symbol, 2)
            << '\n';
  out << decimal7(static_cast<float>(s.density), 10) << '\n';
  file->write(out.str());
  if (!file->commit()) return Status::error(2, "write_sample: Error writing file " + file_name);
  return {};
}

namespace {

enum class Got { record, end, error };

// A record longer than the line limit is a read error.
Got next_record(std::istream& in, std::string& text) {
  const Result<bool> got = read_line(in, text);
  if (!got.ok()) return Got::error;
  return *got ? Got::record : Got::end;
}

std::string word_symbol(std::string_view record, const WordPositions& w, int k) {
  std::string_view t = word_text(record, w, k);
  const auto stop = t.find_first_of(" ,\t");
  return fixed(t.substr(0, stop), 2);
}

}  // namespace

Status read_sample(std::istream& in, Composition& s, int iprint, std::ostream& out) {
  const Status read_error = Status::error(101, "Error reading file");
  const Status premature = Status::error(102, "Premature end to file");
  const auto get = [&](std::string& text) -> const Status* {
    switch (next_record(in, text)) {
      case Got::record:
        return nullptr;
      case Got::end:
        return &premature;
      default:
        return &read_error;
    }
  };
  const auto say = [&](const std::string& text) {
    if (iprint == 1) out << ' ' << text << '\n';
  };

  std::string rec;
  if (auto e = get(rec)) return *e;
  say("read_sample: File was created by program " + std::string(trim_end(rec)));
  if (auto e = get(rec)) return *e;
  say("read_sample: Associated file is " + std::string(trim_end(rec)));
  if (auto e = get(rec)) return *e;
  int n = 0, kind = 0;
  if (!read_free(rec, {&n, &kind})) return read_error;
  say("read_sample: Number of elements = " + free_int(n));
  if (kind != 1 && kind != 2)
    return Status::error(103, "read_sample: ERROR: Unrecognised isotope option, value = " + free_int(kind));
  say(kind == 1 ? "read_sample: iso=1 natural elements" : "read_sample: iso=2 isotopes");
  if (n < 1 || n > kMaxElements)
    return Status::error(108, "read_sample: ERROR: Number of elements must be 1 to 100, value = " + free_int(n));

  // Read as the single-precision values they were written from.
  std::vector<std::string> symbols;
  std::vector<float> amounts;
  std::vector<int> isotope_counts;
  float sum = 0.0f;
  const int min_words = kind == 1 ? 2 : 3;
  for (int i = 0; i < n; ++i) {
    if (auto e = get(rec)) return *e;
    const WordPositions w = count_word(rec);
    // A first word that is only a comma leaves no symbol: as good as a missing word.
    if (w.count < min_words || trim_end(word_symbol(rec, w, 1)).empty())
      return Status::error(104, "read_sample: ERROR: Insufficient data in record: " + rec);
    symbols.push_back(word_symbol(rec, w, 1));
    int count = 1;
    if (kind == 2) {
      if (!read_free(word_text(rec, w, 2), {&count})) return read_error;
      if (count < 1 || count > kMaxIsotopes)
        return Status::error(109,
                             "read_sample: ERROR: Number of isotopes must be 1 to 20 for element " + symbols.back());
    }
    float amount = 0.0f;
    if (!read_free(word_text(rec, w, w.count), {&amount})) return read_error;
    // A negative amount would run to the end with a negative atomic fraction.
    if (!(amount > 0.0f))
      return Status::error(111, "read_sample: ERROR: Amount of element " + std::string(trim_end(symbols.back())) +
                                    " must be above zero, value = " + free_real(amount));
    isotope_counts.push_back(count);
    amounts.push_back(amount);
    sum += amount;
  }
  if (!(sum > 0.0f))
    return Status::error(110, "read_sample: ERROR: Amounts of the elements do not add to more than zero");
  if (!std::isfinite(sum))
    return Status::error(113, "read_sample: ERROR: Amounts of the elements add to more than 3.4E+38");
  if (std::fabs(sum - 1.0f) > 2e-7f) {
    say("read_sample: Abundances do not add to one, and will be normalised to one...");
    for (float& a : amounts) a /= sum;
  }
  if (iprint == 1)
    for (int i = 0; i < n; ++i)
      out << " read_sample: Element " << symbols[static_cast<std::size_t>(i)] << " has atomic fraction "
          << fmt_f(amounts[static_cast<std::size_t>(i)], 8, 6) << '\n';

  Composition got;
  got.kind = kind == 1 ? SampleKind::kNaturalElements : SampleKind::kIsotopes;
  for (int i = 0; i < n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    got.elements.push_back(Element{symbols[k], amounts[k], {}});
    if (kind == 1) {
      got.elements.back().isotopes = {Isotope{0, 1.0}};
      continue;
    }
    float fsum = 0.0f;
    for (int j = 0; j < isotope_counts[k]; ++j) {
      if (auto e = get(rec)) return *e;
      const WordPositions w = count_word(rec);
      if (w.count < 3) return Status::error(105, "read_sample: ERROR: Insufficient data in record: " + rec);
      int a = 0;
      float y = 0.0f;
      if (!read_free(word_text(rec, w, 1), {&a}) || !read_free(word_text(rec, w, 2), {&y})) return read_error;
      const std::string sym = word_symbol(rec, w, 3);
      if (ach_case_blind_compare(sym, symbols[k]) != 0)
        return Status::error(107, "Symbol " + sym + " in isotope record is inconsistent with symbol " + symbols[k] +
                                      " in element record");
      if (!(y >= 0.0f))
        return Status::error(112, "read_sample: ERROR: Fraction of isotope " + free_int(a) +
                                      std::string(trim_end(symbols[k])) +
                                      " must not be negative, value = " + free_real(y));
      got.elements.back().isotopes.push_back(Isotope{a, y});
      fsum += y;
    }
    if (std::fabs(fsum - 1.0f) > 0.00101f)
      return Status::error(106,
                           "read_sample: Isotopic composition of element must add to ONE, sum = " + free_real(fsum));
  }

  if (auto e = get(rec)) return *e;
  float density = 0.0f;
  if (!read_free(rec, {&density})) return read_error;
  got.density = density;
  if (density == 0.0f) {
    say("read_sample: Density is unknown");
  } else {
    say("read_sample: Density is known");
    const std::vector<double> fractions(amounts.begin(), amounts.end());
    double converted = 0.0;
    Status c = convert_density(density, converted, symbols, fractions, 0, out);
    if (!c.ok()) return c;
    say(density < 0 ? "read_sample: Density is given in atoms/Angstrom as " + free_real(density)
                    : "read_sample: Density is given in g/cc as " + free_real(density));
    if (kind == 2) say("read_sample: Using the natural element masses...");
    say(density < 0 ? "read_sample: Density in g/cc is " + free_real(converted)
                    : "read_sample: Density in atoms/cubic Angstrom is " + free_real(converted));
  }
  s = std::move(got);
  return {};
}

}  // namespace talvo::classic
