#include "talvo/structure/cif.hpp"

#include "talvo/text/quote.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "talvo/files/read.hpp"
#include "talvo/text/decimal.hpp"
#include "talvo/text/words.hpp"

namespace talvo {
namespace {

struct Token {
  std::string text;
  std::size_t line = 0;
  bool quoted = false;  // a quoted string or a text field: never a keyword, a tag or a missing value
};

struct Loop {
  std::vector<std::string> tags;
  std::vector<std::vector<Token>> rows;
};

struct Block {
  std::string name;
  std::map<std::string, Token> items;
  std::vector<Loop> loops;
};

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

Result<std::vector<Token>> tokens_of(std::string_view text, std::string_view source) {
  std::vector<Token> out;
  std::size_t i = 0, line = 1;
  bool line_start = true;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\n') {
      ++line, ++i, line_start = true;
      continue;
    }
    if (blank(c)) {
      ++i;
      continue;
    }
    if (c == ';' && line_start) {  // a text field, to the next line that starts with ';'
      const std::size_t first_line = line;
      std::size_t end = text.find("\n;", i);
      if (end == std::string_view::npos)
        return make_error(ErrorKind::kParseError, std::string(source) + ", line " + std::to_string(first_line) +
                                                      ": a text field that starts with ';' is never closed");
      std::string_view body = text.substr(i + 1, end - i - 1);
      for (char ch : body) line += ch == '\n';
      ++line;  // the closing line
      out.push_back({std::string(body), first_line, true});
      i = end + 2;
      line_start = false;
      continue;
    }
    line_start = false;
    if (c == '#') {
      while (i < text.size() && text[i] != '\n') ++i;
      continue;
    }
    if (c == '\'' || c == '"') {  // closed by the same quote followed by a blank or the line's end
      std::size_t j = i + 1;
      while (j < text.size() && text[j] != '\n' && !(text[j] == c && (j + 1 == text.size() || blank(text[j + 1]))))
        ++j;
      if (j >= text.size() || text[j] != c)
        return make_error(ErrorKind::kParseError, std::string(source) + ", line " + std::to_string(line) +
                                                      ": a quoted value is not closed on its line");
      out.push_back({std::string(text.substr(i + 1, j - i - 1)), line, true});
      i = j + 1;
      continue;
    }
    std::size_t j = i;
    while (j < text.size() && !blank(text[j])) ++j;
    out.push_back({std::string(text.substr(i, j - i)), line, false});
    i = j;
  }
  return out;
}

bool keyword(const Token& t, std::string_view word) {
  return !t.quoted && t.text.size() >= word.size() && equal_case_blind(t.text.substr(0, word.size()), word);
}
bool is_tag(const Token& t) { return !t.quoted && !t.text.empty() && t.text[0] == '_'; }
bool ends_values(const Token& t) {
  return is_tag(t) || keyword(t, "loop_") || keyword(t, "data_") || keyword(t, "save_") || keyword(t, "global_");
}

Result<std::vector<Block>> blocks_of(const std::vector<Token>& tokens, std::string_view source) {
  std::vector<Block> blocks;
  std::size_t i = 0;
  auto where = [&](const Token& t) { return std::string(source) + ", line " + std::to_string(t.line) + ": "; };
  // The line each tag of the block was first given on: CIF names a tag once in a block, and a second
  // value of it would silently replace the first (a save frame's tags are read as the block's).
  std::map<std::string, std::size_t> seen;
  auto first_time = [&](const Token& t, const std::string& tag) -> Outcome {
    const auto [at, added] = seen.emplace(tag, t.line);
    if (added) return Done{};
    return make_error(ErrorKind::kParseError,
                      where(t) + "the tag " + quote_for_message(t.text) + " is given again in the block data_" +
                          escape_for_message(blocks.back().name) + " (first on line " + std::to_string(at->second) +
                          "); a CIF gives each tag once in a block");
  };
  while (i < tokens.size()) {
    const Token& t = tokens[i];
    if (keyword(t, "data_")) {
      blocks.push_back(Block{t.text.substr(5), {}, {}});
      seen.clear();
      ++i;
      continue;
    }
    if (keyword(t, "save_") || keyword(t, "global_")) {
      ++i;
      continue;
    }
    if (blocks.empty()) return make_error(ErrorKind::kParseError, where(t) + "\"" + t.text + "\" before any data_ block");
    Block& b = blocks.back();
    if (keyword(t, "loop_")) {
      Loop loop;
      ++i;
      while (i < tokens.size() && is_tag(tokens[i])) {
        loop.tags.push_back(lower(tokens[i].text));
        if (Outcome once = first_time(tokens[i], loop.tags.back()); !once.ok()) return once.error();
        ++i;
      }
      if (loop.tags.empty()) return make_error(ErrorKind::kParseError, where(t) + "loop_ without tags");
      std::vector<Token> values;
      while (i < tokens.size() && !ends_values(tokens[i])) values.push_back(tokens[i++]);
      if (values.size() % loop.tags.size() != 0)
        return make_error(ErrorKind::kParseError,
                          where(t) + "the loop of " + loop.tags[0] + " has " + std::to_string(values.size()) +
                              " values, not a whole number of rows of " + std::to_string(loop.tags.size()));
      for (std::size_t k = 0; k < values.size(); k += loop.tags.size())
        loop.rows.emplace_back(values.begin() + static_cast<std::ptrdiff_t>(k),
                               values.begin() + static_cast<std::ptrdiff_t>(k + loop.tags.size()));
      b.loops.push_back(std::move(loop));
      continue;
    }
    if (is_tag(t)) {
      if (i + 1 >= tokens.size() || ends_values(tokens[i + 1]))
        return make_error(ErrorKind::kParseError, where(t) + "the tag " + t.text + " has no value");
      if (Outcome once = first_time(t, lower(t.text)); !once.ok()) return once.error();
      b.items[lower(t.text)] = tokens[i + 1];
      i += 2;
      continue;
    }
    return make_error(ErrorKind::kParseError, where(t) + "the value \"" + t.text + "\" belongs to no tag");
  }
  return blocks;
}

bool missing(const Token& t) { return !t.quoted && (t.text == "?" || t.text == "."); }

// A CIF number: its value without the standard uncertainty in parentheses.
Result<std::optional<double>> number_of(const Token& t, std::string_view tag, std::string_view source) {
  if (missing(t)) return std::optional<double>{};
  std::string_view s = t.text;
  if (const std::size_t p = s.find('('); p != std::string_view::npos && s.back() == ')') s = s.substr(0, p);
  double v = 0;
  const char* first = s.data();
  if (!s.empty() && s[0] == '+') ++first;
  if (s.empty() || read_decimal(first, s.data() + s.size(), v).ptr != s.data() + s.size() || !std::isfinite(v))
    return make_error(ErrorKind::kParseError, std::string(source) + ", line " + std::to_string(t.line) + ": " +
                                                  std::string(tag) + " = \"" + t.text + "\" is not a number");
  return std::optional<double>{v};
}

// The column of a loop with that tag, or -1.
long column(const Loop& loop, std::string_view tag) {
  for (std::size_t k = 0; k < loop.tags.size(); ++k)
    if (loop.tags[k] == tag) return static_cast<long>(k);
  return -1;
}
const Loop* loop_with(const Block& b, std::string_view tag) {
  for (const Loop& l : b.loops)
    if (column(l, tag) >= 0) return &l;
  return nullptr;
}

// The values of a tag, as a loop's column or a single item.
std::vector<Token> values_of(const Block& b, std::string_view tag) {
  if (const Loop* l = loop_with(b, tag)) {
    std::vector<Token> out;
    for (const auto& row : l->rows) out.push_back(row[static_cast<std::size_t>(column(*l, tag))]);
    return out;
  }
  if (auto it = b.items.find(std::string(tag)); it != b.items.end()) return {it->second};
  return {};
}

Result<Structure> structure_of(const Block& b, std::string_view source) {
  Structure s;
  s.name = b.name;
  const std::string where = std::string(source) + ", block data_" + b.name + ": ";
  std::vector<std::string> warnings;
  // The cell.
  double cell[6];
  const char* cell_tags[6] = {"_cell_length_a", "_cell_length_b", "_cell_length_c",
                              "_cell_angle_alpha", "_cell_angle_beta", "_cell_angle_gamma"};
  for (std::size_t k = 0; k < 6; ++k) {
    auto it = b.items.find(cell_tags[k]);
    std::optional<double> v;
    if (it != b.items.end()) {
      Result<std::optional<double>> n = number_of(it->second, cell_tags[k], source);
      if (!n.ok()) return n.error();
      v = *n;
    }
    if (!v && k < 3)
      return make_error(ErrorKind::kInvalidArgument, where + "no cell: " + cell_tags[k] + " is not given");
    if (!v) warnings.push_back(where + std::string(cell_tags[k]) + " is not given; taken as 90 degrees");
    cell[k] = v.value_or(90.0);
  }
  Result<UnitCell> c = make_cell(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5]);
  if (!c.ok()) return make_error(c.kind(), where + c.error().message);
  s.cell = *c;
  for (const char* tag : {"_symmetry_space_group_name_h-m", "_space_group_name_h-m_alt"})
    if (auto it = b.items.find(tag); it != b.items.end() && !missing(it->second)) s.space_group = it->second.text;
  // The operations.
  std::vector<Token> ops = values_of(b, "_space_group_symop_operation_xyz");
  if (ops.empty()) ops = values_of(b, "_symmetry_equiv_pos_as_xyz");
  for (const Token& t : ops) {
    Result<SymmetryOperation> op = parse_operation(t.text);
    if (!op.ok())
      return make_error(ErrorKind::kParseError, std::string(source) + ", line " + std::to_string(t.line) + ": " + op.error().message);
    s.operations.push_back(*op);
  }
  if (s.operations.empty()) {
    std::string compact;
    for (char ch : s.space_group)
      if (!blank(ch)) compact += ch;
    if (!compact.empty() && !equal_case_blind(compact, "P1"))
      return make_error(ErrorKind::kUnsupported,
                        where + "the space group " + quote_for_message(s.space_group) +
                            " is named but its symmetry operations are not listed (_symmetry_equiv_pos_as_xyz or "
                            "_space_group_symop_operation_xyz); the program does not generate them from the symbol");
    // A space group named by its number alone is no more P1 than one named by its symbol.
    for (const char* tag : {"_space_group_it_number", "_symmetry_int_tables_number"})
      if (auto it = b.items.find(tag); it != b.items.end() && !missing(it->second) && it->second.text != "1")
        return make_error(ErrorKind::kUnsupported,
                          where + "the space group number " + quote_for_message(it->second.text) +
                              " is given but its symmetry operations are not listed (_symmetry_equiv_pos_as_xyz or "
                              "_space_group_symop_operation_xyz); the program does not generate them from the number");
    s.operations.push_back(SymmetryOperation{identity3(), Vec3{}, "x,y,z"});
  }
  // The sites.
  const Loop* sites = loop_with(b, "_atom_site_fract_x");
  if (!sites) return make_error(ErrorKind::kInvalidArgument, where + "no atom sites (_atom_site_fract_x)");
  const long c_label = column(*sites, "_atom_site_label"), c_type = column(*sites, "_atom_site_type_symbol");
  const long c_xyz[3] = {column(*sites, "_atom_site_fract_x"), column(*sites, "_atom_site_fract_y"),
                         column(*sites, "_atom_site_fract_z")};
  const long c_occ = column(*sites, "_atom_site_occupancy");
  const long c_uiso = column(*sites, "_atom_site_u_iso_or_equiv"), c_biso = column(*sites, "_atom_site_b_iso_or_equiv");
  if (c_xyz[1] < 0 || c_xyz[2] < 0)
    return make_error(ErrorKind::kInvalidArgument, where + "the atom sites lack _atom_site_fract_y or _fract_z");
  auto cell_number = [&](const std::vector<Token>& row, long col, std::string_view tag) -> Result<std::optional<double>> {
    if (col < 0) return std::optional<double>{};
    return number_of(row[static_cast<std::size_t>(col)], tag, source);
  };
  for (const auto& row : sites->rows) {
    Site site;
    site.label = c_label >= 0 ? row[static_cast<std::size_t>(c_label)].text : "";
    std::string species = c_type >= 0 && !missing(row[static_cast<std::size_t>(c_type)])
                              ? row[static_cast<std::size_t>(c_type)].text : site.label;
    if (site.label.empty()) site.label = species;
    Outcome a = assign_species(site, species);
    // Without a type symbol the label stands for it, and a label's letters after the symbol's first are its own
    // ("Ob1": an oxygen).
    if (!a.ok() && c_type < 0 && species.size() > 1) a = assign_species(site, species.substr(0, 1));
    if (!a.ok()) return make_error(a.kind(), where + a.error().message);
    for (std::size_t k = 0; k < 3; ++k) {
      constexpr std::string_view kTags[3] = {"_atom_site_fract_x", "_atom_site_fract_y", "_atom_site_fract_z"};
      Result<std::optional<double>> v = cell_number(row, c_xyz[k], kTags[k]);
      if (!v.ok()) return v.error();
      if (!*v) return make_error(ErrorKind::kInvalidArgument, where + "site " + site.label + " has no position");
      site.xyz[static_cast<std::size_t>(k)] = **v;
    }
    Result<std::optional<double>> occ = cell_number(row, c_occ, "_atom_site_occupancy");
    if (!occ.ok()) return occ.error();
    site.occupancy = occ->value_or(1.0);
    Result<std::optional<double>> uiso = cell_number(row, c_uiso, "_atom_site_U_iso_or_equiv");
    if (!uiso.ok()) return uiso.error();
    Result<std::optional<double>> biso = cell_number(row, c_biso, "_atom_site_B_iso_or_equiv");
    if (!biso.ok()) return biso.error();
    if (*uiso) site.u = isotropic_u(**uiso);
    else if (*biso) site.u = isotropic_u(**biso / kBisoPerUiso);
    s.sites.push_back(std::move(site));
  }
  // Anisotropic displacements, by label.
  const Loop* aniso = loop_with(b, "_atom_site_aniso_label");
  if (aniso) {
    const char* names[6] = {"11", "22", "33", "12", "13", "23"};
    static const std::size_t kI[6] = {0, 1, 2, 0, 0, 1}, kJ[6] = {0, 1, 2, 1, 2, 2};
    const long c_a = column(*aniso, "_atom_site_aniso_label");
    for (const auto& row : aniso->rows) {
      const std::string& label = row[static_cast<std::size_t>(c_a)].text;
      Site* site = nullptr;
      for (Site& st : s.sites)
        if (st.label == label) site = &st;
      if (!site)
        return make_error(ErrorKind::kInvalidArgument, where + "the anisotropic displacement of \"" + label +
                                                           "\" names no atom site");
      Mat3 u_cif{};
      bool any = false;
      for (std::size_t k = 0; k < 6; ++k) {
        double factor = 1.0;
        long col = column(*aniso, std::string("_atom_site_aniso_u_") + names[k]);
        if (col < 0) col = column(*aniso, std::string("_atom_site_aniso_b_") + names[k]), factor = 1.0 / kBisoPerUiso;
        Result<std::optional<double>> v = cell_number(row, col, "_atom_site_aniso_U");
        if (!v.ok()) return v.error();
        if (!*v) continue;
        any = true;
        u_cif[kI[k]][kJ[k]] = u_cif[kJ[k]][kI[k]] = **v * factor;
      }
      if (any) {
        site->u = s.cell.u_cif_to_cartesian(u_cif);
        site->anisotropic = true;
      }
    }
  }
  if (Outcome ok = check_structure(s); !ok.ok()) return make_error(ok.kind(), where + ok.error().message);
  return Result<Structure>(std::move(s), std::move(warnings));
}

}  // namespace

Result<Structure> read_cif_text(std::string_view text, std::string_view source, const CifOptions& options) {
  Result<std::vector<Token>> tokens = tokens_of(text, source);
  if (!tokens.ok()) return tokens.error();
  Result<std::vector<Block>> blocks = blocks_of(*tokens, source);
  if (!blocks.ok()) return blocks.error();
  if (blocks->empty()) return make_error(ErrorKind::kParseError, std::string(source) + ": no data_ block: not a CIF");
  if (options.block.empty()) return structure_of(blocks->front(), source);
  std::string want = options.block;
  if (want.size() >= 5 && equal_case_blind(want.substr(0, 5), "data_")) want = want.substr(5);
  std::string names;
  for (const Block& b : *blocks) {
    if (equal_case_blind(b.name, want)) return structure_of(b, source);
    names += (names.empty() ? "" : ", ") + b.name;
  }
  return make_error(ErrorKind::kNotFound, std::string(source) + " has no block data_" + want + " (it has " + names + ")");
}

Result<Structure> read_cif(const std::string& file, const CifOptions& options) {
  Result<std::string> text = read_whole_file(file);
  if (!text.ok()) return text.error();
  return read_cif_text(*text, file, options);
}

std::string value_with_uncertainty(double value, double sigma) {
  char text[64];
  if (!(sigma > 0) || !std::isfinite(sigma)) {
    std::snprintf(text, sizeof text, "%.8g", value);
    return text;
  }
  // The decimal place of the uncertainty's first digit; one more when that digit is 1.
  int place = static_cast<int>(std::floor(std::log10(sigma)));
  if (sigma / std::pow(10.0, place) < 1.95) --place;
  long digits = std::lround(sigma / std::pow(10.0, place));
  if (place >= 0) {
    std::snprintf(text, sizeof text, "%.0f(%ld)", std::round(value / std::pow(10.0, place)) * std::pow(10.0, place),
                  digits * static_cast<long>(std::lround(std::pow(10.0, place))));
  } else {
    std::snprintf(text, sizeof text, "%.*f(%ld)", -place, value, digits);
  }
  return text;
}

Result<std::string> cif_text(const Structure& s, const CifUncertainties& sigma) {
  if (!s.periodic) return make_error(ErrorKind::kUnsupported, "a box without periodicity is not written as a CIF");
  auto su = [&](std::string_view name) {
    const auto it = sigma.find(name);
    return it == sigma.end() ? 0.0 : it->second;
  };
  auto quoted = [](std::string_view t) { return "'" + std::string(t) + "'"; };
  std::string out = "data_" + (s.name.empty() ? std::string("structure") : s.name) + "\n";
  for (char& c : out)
    if (c == ' ' || c == '\t') c = '_';
  const char* cell_names[6] = {"a", "b", "c", "alpha", "beta", "gamma"};
  const char* cell_tags[6] = {"_cell_length_a", "_cell_length_b", "_cell_length_c",
                              "_cell_angle_alpha", "_cell_angle_beta", "_cell_angle_gamma"};
  const double cell[6] = {s.cell.a, s.cell.b, s.cell.c, s.cell.alpha, s.cell.beta, s.cell.gamma};
  for (std::size_t k = 0; k < 6; ++k)
    out += std::string(cell_tags[k]) + " " + value_with_uncertainty(cell[k], su(cell_names[k])) + "\n";
  out += "_symmetry_space_group_name_H-M " + quoted(s.space_group.empty() ? "P 1" : s.space_group) + "\n";
  out += "loop_\n_space_group_symop_operation_xyz\n";
  for (const SymmetryOperation& op : s.operations) out += quoted(op.text.empty() ? "x,y,z" : op.text) + "\n";
  out += "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n"
         "_atom_site_occupancy\n_atom_site_U_iso_or_equiv\n_atom_site_adp_type\n";
  bool any_aniso = false;
  for (const Site& site : s.sites) {
    const std::string label = quoted(site.label);
    out += label + " " + site.species;
    const char* axes[3] = {"x:", "y:", "z:"};
    for (std::size_t k = 0; k < 3; ++k) out += " " + value_with_uncertainty(site.xyz[k], su(axes[k] + site.label));
    out += " " + value_with_uncertainty(site.occupancy, su("occ:" + site.label));
    const double u = u_equivalent(site.u);
    out += " " + (u > 0 ? value_with_uncertainty(u, su("uiso:" + site.label)) : std::string("?"));
    out += site.anisotropic ? " Uani\n" : " Uiso\n";
    any_aniso = any_aniso || site.anisotropic;
  }
  if (any_aniso) {
    out += "loop_\n_atom_site_aniso_label\n_atom_site_aniso_U_11\n_atom_site_aniso_U_22\n_atom_site_aniso_U_33\n"
           "_atom_site_aniso_U_12\n_atom_site_aniso_U_13\n_atom_site_aniso_U_23\n";
    static const std::size_t kI[6] = {0, 1, 2, 0, 0, 1}, kJ[6] = {0, 1, 2, 1, 2, 2};
    for (const Site& site : s.sites) {
      if (!site.anisotropic) continue;
      const Mat3 u = s.cell.u_cartesian_to_cif(site.u);
      out += quoted(site.label);
      for (std::size_t k = 0; k < 6; ++k) out += " " + value_with_uncertainty(u[kI[k]][kJ[k]], 0.0);
      out += "\n";
    }
  }
  return out;
}

}  // namespace talvo
