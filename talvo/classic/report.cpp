#include "talvo/classic/report.hpp"

#include <algorithm>
#include <cstring>

#include "talvo/text/format.hpp"
#include "talvo/text/words.hpp"

namespace talvo::classic {
namespace {

const char* const kUnits = " Units: b in fm, sigma in barns, A in amu (12C)";

std::string e14(float v) { return fmt_e(v, 14, 7); }

// A value line: the label padded so that every "=" stands in column 43.
std::string value_line(std::string_view label, float v) {
  std::string s(label);
  s.resize(42, ' ');
  s += "= ";
  append_e(s, v, 14, 7);
  return s;
}

// A symbol in 1 column when its second character is blank, else in 2.
std::string short_symbol(const std::string& s) { return std::string(trim_end(fixed(s, 2))); }

// Room for the longest pair line: " Ab-Cd:" twice (7 characters each at most),
// two E14.7 fields, "    (or ", ")" and the line break come to 53.
constexpr std::size_t kPairLineRoom = 64;

char* put_chars(char* p, std::string_view text) {
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

// "A-B" and the blanks that bring the ":" to the same column for every pair.
class PairLabels {
 public:
  explicit PairLabels(const Composition& c) {
    for (const Element& e : c.elements) symbols_.push_back(short_symbol(e.symbol));
  }
  char* put(char* p, int l, int m) const {
    const std::string& a = symbols_[static_cast<std::size_t>(l)];
    const std::string& b = symbols_[static_cast<std::size_t>(m)];
    p = put_chars(p, a);
    *p++ = '-';
    p = put_chars(p, b);
    for (std::size_t n = a.size() + b.size(); n < 5; ++n) *p++ = ' ';
    *p++ = ':';
    return p;
  }

 private:
  std::vector<std::string> symbols_;
};

// Lines built in place at the end of `out`, with room made for many at a
// time and the text handed on in pieces as it grows: most of a large report.
class LineWriter {
 public:
  LineWriter(TextLines& out, std::size_t lines) : out_(out), lines_left_(lines) { make_room(); }
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;
  ~LineWriter() { end_text(); }
  // Where the next line goes: room for kPairLineRoom characters.
  char* line() {
    if (end_ + kPairLineRoom > limit_) {
      end_text();
      out_.spill();
      make_room();
    }
    --lines_left_;
    return end_;
  }
  void line_ends_at(char* end) { end_ = end; }

 private:
  // Room for as many lines as make two pieces, so that a full room spills,
  // or for the lines still to come when they are fewer.
  static constexpr std::size_t kRoom = 2 * TextLines::kPiece;
  void make_room() {
    std::string& text = out_.text;
    const std::size_t used = text.size();
    text.resize(used + std::min(kRoom, std::max<std::size_t>(lines_left_, 1) * kPairLineRoom));
    end_ = text.data() + used;
    limit_ = text.data() + text.size();
  }
  void end_text() { out_.text.resize(static_cast<std::size_t>(end_ - out_.text.data())); }

  TextLines& out_;
  std::size_t lines_left_;
  char* end_ = nullptr;
  char* limit_ = nullptr;
};

void pair_lines(TextLines& out, const PairLabels& labels, const std::vector<PairValue>& pairs) {
  out.push_back(" The total correlation function T(r) is a sum of the");
  out.push_back(" partial");
  out.push_back(" correlation functions tll'(r) with the following");
  out.push_back(" coefficients;");
  LineWriter lines(out, pairs.size());
  for (const PairValue& p : pairs) {
    char* q = lines.line();
    *q++ = ' ';
    q = labels.put(q, p.l, p.m);
    q = put_e14_7(q, p.value);
    if (p.l != p.m) {
      q = put_chars(q, "    (or ");
      q = labels.put(q, p.m, p.l);
      q = put_e14_7(q, p.reverse);
      *q++ = ')';
    }
    *q++ = '\n';
    lines.line_ends_at(q);
  }
}

void faber_ziman_lines(TextLines& out, const PairLabels& labels, const std::vector<PairValue>& pairs) {
  LineWriter lines(out, pairs.size());
  for (const PairValue& p : pairs) {
    char* q = lines.line();
    *q++ = ' ';
    q = labels.put(q, p.l, p.m);
    q = put_e14_7(q, p.value);
    q = put_chars(q, " / ");
    q = put_e14_7(q, p.reverse);
    *q++ = '\n';
    lines.line_ends_at(q);
  }
}

void totals_lines(TextLines& out, const Totals& t) {
  out.push_back(value_line(" Bound coherent scattering length", t.b_bound));
  out.push_back(value_line(" Free coherent scattering length", t.b_free));
  out.push_back(value_line(" Bound coherent cross-section", t.sig_coh));
  out.push_back(value_line(" Bound coherent cross-section/4pi", t.sig_coh_4pi));
  out.push_back(value_line(" Bound incoherent cross-section", t.sig_inc));
  out.push_back(value_line(" Bound incoherent cross-section/4pi", t.sig_inc_4pi));
  out.push_back(value_line(" Bound scattering cross-section", t.sig_bound));
  out.push_back(value_line(" Bound scattering cross-section/4pi", t.sig_bound_4pi));
  out.push_back(value_line(" Free scattering cross-section", t.sig_free));
  out.push_back(value_line(" Free scattering cross-section/4pi", t.sig_free_4pi));
  out.push_back(value_line(" Absorption cross-section at 2200ms**-1", t.sig_abs));
  out.push_back(value_line(" Absorption cross-section at 1 Angstrom", t.sig_abs1));
  out.push_back(value_line(" Absorption cross-section at 1.8 Angstrom", t.sig_abs18));
}

}  // namespace

TextLines banner_lines() {
  TextLines out;
  for (const char* l :
       {" *********************************************", " * TALVO Calculate sample cross-sections etc *", " ",
        " *********************************************"})
    out.push_back(l);
  return out;
}

std::string primary_data_header() { return " Z    A         Symbol b_bar      sig_scatt    sig_abs"; }

std::string primary_data_line(const NuclearEntry& e) {
  return " " + fmt_i(e.z, 3) + "  " + fmt_f(static_cast<float>(e.mass), 10, 6) + "  " + fixed(e.symbol, 2) + "  " +
         fmt_f(e.b, 10, 5) + "  " + fmt_f(e.sig_scatt, 9, 5) + "  " + fmt_f(e.sig_abs, 11, 5);
}

TextLines report_head_lines(const std::string& data_file, const std::vector<const NuclearEntry*>& isotopes) {
  TextLines out = banner_lines();
  out.push_back("");
  out.push_back(kUnits);
  out.push_back("");
  out.push_back(" Input data from file " + data_file + ":");
  out.push_back(primary_data_header());
  for (const NuclearEntry* e : isotopes) out.push_back(primary_data_line(*e));
  return out;
}

TextLines results_lines(const Composition& c, const Results& r) {
  TextLines out;
  out.text.reserve(4096 + 3 * kPairLineRoom * r.fz.size());  // the pair lines are most of the block
  results_lines(c, r, out);
  return out;
}

void results_lines(const Composition& c, const Results& r, TextLines& out) {
  const PairLabels labels(c);
  out.push_back("");
  if (c.kind == SampleKind::kIsotopes) {
    out.push_back(" Isotopic composition of elements...");
    for (const Element& e : c.elements) {
      std::string s;
      for (const Isotope& iso : e.isotopes)
        s += " " + fmt_i(iso.a, 3) + fixed(e.symbol, 2) + " - " + fmt_f(iso.fraction, 8, 6);
      out.push_back(s);
    }
    out.push_back(" ( 0Li = natural element )");
    out.push_back("");
  }
  out.push_back(" Bound coherent scattering lengths of elements...");
  std::string bl = " ";
  for (std::size_t k = 0; k < c.elements.size(); ++k)
    bl += fixed(c.elements[k].symbol, 2) + "=" + fmt_e(r.b_mean[k], 12, 5);
  out.push_back(bl);
  out.push_back("");
  out.push_back(" Number of atoms in scattering unit  = " + e14(r.atoms));
  if (r.density_known) {
    out.push_back(" Density in gcm**-3                  = " + e14(r.density_gcc));
    out.push_back(" Density in atoms per cubic Angstrom = " + e14(r.atoms_per_a3));
  } else {
    out.push_back(" Density not known");
  }
  out.push_back("");
  out.push_back(" Atomic");
  out.push_back(" Element  Fraction");
  for (std::size_t k = 0; k < c.elements.size(); ++k)
    out.push_back("  " + fixed(c.elements[k].symbol, 2) + "    " + e14(r.fraction[k]));

  out.push_back("");
  out.push_back(" VALUES PER SCATTERING UNIT...");
  out.push_back(value_line(" Atomic weight", r.unit.atomic_weight));
  if (r.density_known) out.push_back(value_line(" Density (units per cubic Angstrom)", r.units_per_a3));
  out.push_back(value_line(r.t0_unit_with_density ? " T0(r) Constant" : " T0(r) Constant/number density", r.t0_unit));
  totals_lines(out, r.unit);
  out.push_back("");
  pair_lines(out, labels, r.tr_unit);

  out.push_back("");
  out.push_back(" AVERAGE VALUES PER ATOM...");
  out.push_back(value_line(" Atomic weight", r.atom.atomic_weight));
  if (r.density_known) out.push_back(value_line(" Density (atoms per cubic Angstrom)", r.atoms_per_a3));
  if (r.t0_atom_with_density) out.push_back(value_line(" Scattering length density (10**10 cm**-2)", r.sld));
  out.push_back(value_line(r.t0_atom_with_density ? " T0(r) Constant" : " T0(r) Constant/number density", r.t0_atom));
  totals_lines(out, r.atom);
  if (r.t0_atom_with_density) {
    out.push_back(value_line(" Linear absorption coefficient at 1.8A", r.mu));
    out.push_back(value_line(" Mean free (absorption) path (cm) at 1.8A", r.mean_free_path));
  }
  out.push_back("");
  pair_lines(out, labels, r.tr_atom);

  out.push_back("");
  out.push_back(" The coefficients for the Faber-Ziman partials (normalised/un-normalised) are...");
  faber_ziman_lines(out, labels, r.fz);
  out.push_back("");
  out.push_back(" (bound sig_scatt/4pi is self scattering level)");
  out.push_back(" (bound sig_coh/4pi is coherent scattering level)");
  out.push_back(" (bound sig_incoh/4pi is incoherent scattering level)");
}

}  // namespace talvo::classic
