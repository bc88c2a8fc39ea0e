#include "talvo/structure/structure_files.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

#include "talvo/files/read.hpp"
#include "talvo/structure/cif.hpp"
#include "talvo/text/decimal.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"

namespace talvo {
namespace {

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == text.size()) break;
    start = end + 1;
  }
  return lines;
}

// The words of a line, commas counting as blanks.
std::vector<std::string> words_of(std::string_view line) {
  std::string s(line);
  std::replace(s.begin(), s.end(), ',', ' ');
  std::vector<std::string> out;
  for (std::string_view w : split_words(s)) out.emplace_back(w);
  return out;
}

bool number_of(std::string_view w, double& v) {
  return !w.empty() && read_decimal(w.data(), w.data() + w.size(), v).ptr == w.data() + w.size() && std::isfinite(v);
}

Error line_error(std::string_view source, std::size_t line, std::string_view why) {
  return make_error(ErrorKind::kParseError, std::string(source) + ", line " + std::to_string(line) + ": " + std::string(why));
}

// `count` numbers from the words from `first` on.
bool numbers(const std::vector<std::string>& w, std::size_t first, std::size_t count, double* out) {
  if (w.size() < first + count) return false;
  for (std::size_t k = 0; k < count; ++k)
    if (!number_of(w[first + k], out[k])) return false;
  return true;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// A frame's first line: its number of atoms alone, a whole number from 1.
bool count_line(const std::vector<std::string>& w, double& count) {
  return w.size() == 1 && number_of(w[0], count) && count >= 1 && count == std::floor(count);
}

}  // namespace

Result<StruFile> read_stru_text(std::string_view text, std::string_view source) {
  StruFile f;
  Structure& s = f.structure;
  const std::vector<std::string_view> lines = lines_of(text);
  bool have_cell = false;
  std::size_t i = 0;
  double cell[6] = {};
  for (; i < lines.size(); ++i) {
    const std::vector<std::string> w = words_of(lines[i]);
    if (w.empty()) continue;
    const std::string key = lower(w[0]);
    const std::size_t n = i + 1;
    if (key == "title") {
      std::string_view rest = lines[i].substr(std::min(lines[i].size(), lines[i].find("title") + 5));
      while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.front()))) rest.remove_prefix(1);
      s.name = std::string(trim_end(rest));
    } else if (key == "format" || key == "dcell") {
    } else if (key == "scale") {
      if (!numbers(w, 1, 1, &f.scale)) return line_error(source, n, "scale needs a number");
    } else if (key == "sharp") {
      double v[4] = {0, 0, 1, 0};
      if (numbers(w, 1, 4, v)) f.delta2 = v[0], f.delta1 = v[1], f.sratio = v[2], f.rcut = v[3];
      else if (numbers(w, 1, 3, v)) f.delta2 = v[0], f.sratio = v[1], f.rcut = v[2];
      else return line_error(source, n, "sharp needs delta2, delta1, sratio and rcut");
    } else if (key == "spcgr") {
      s.space_group = w.size() > 1 ? w[1] : "";
    } else if (key == "shape") {
      if (w.size() >= 3 && lower(w[1]) == "sphere") {
        if (!numbers(w, 2, 1, &f.spdiameter)) return line_error(source, n, "shape sphere needs its diameter");
      } else {
        return make_error(ErrorKind::kUnsupported, std::string(source) + ", line " + std::to_string(n) +
                                                       ": only a sphere's shape is read (\"shape sphere, D\")");
      }
    } else if (key == "cell") {
      if (!numbers(w, 1, 6, cell)) return line_error(source, n, "cell needs a, b, c, alpha, beta, gamma");
      have_cell = true;
    } else if (key == "ncell") {
      double v[3] = {};
      if (!numbers(w, 1, 3, v)) return line_error(source, n, "ncell needs three numbers");
      if (v[0] != 1 || v[1] != 1 || v[2] != 1)
        return make_error(ErrorKind::kUnsupported, std::string(source) + ", line " + std::to_string(n) +
                                                       ": a supercell (ncell other than 1, 1, 1) is not read");
    } else if (key == "atoms") {
      ++i;
      break;
    } else {
      return line_error(source, n, "\"" + w[0] + "\" is not a line of a .stru file");
    }
  }
  if (!have_cell) return make_error(ErrorKind::kInvalidArgument, std::string(source) + ": no cell line");
  Result<UnitCell> c = make_cell(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5]);
  if (!c.ok()) return make_error(c.kind(), std::string(source) + ": " + c.error().message);
  s.cell = *c;
  s.operations.push_back(SymmetryOperation{});
  s.operations.back().text = "x,y,z";
  // Six lines an atom; blank lines between atoms are allowed.
  while (i < lines.size()) {
    std::vector<std::string> w = words_of(lines[i]);
    if (w.empty()) {
      ++i;
      continue;
    }
    std::vector<std::vector<std::string>> block{w};
    const std::size_t first_line = i + 1;
    for (int k = 1; k < 6; ++k) {
      if (i + static_cast<std::size_t>(k) >= lines.size())
        return line_error(source, first_line, "an atom needs six lines");
      block.push_back(words_of(lines[i + static_cast<std::size_t>(k)]));
    }
    i += 6;
    Site site;
    site.label = w[0];
    if (Outcome a = assign_species(site, w[0]); !a.ok())
      return make_error(a.kind(), std::string(source) + ", line " + std::to_string(first_line) + ": " + a.error().message);
    site.label = site.element + std::to_string(s.sites.size() + 1);
    if (site.charge == 0) site.species = site.element;  // PDFfit writes "NI" for Ni
    double xyzo[4], u_diag[3], u_off[3], dummy[4];
    if (!numbers(block[0], 1, 4, xyzo)) return line_error(source, first_line, "the atom line needs x, y, z, occupancy");
    if (!numbers(block[1], 0, 4, dummy)) return line_error(source, first_line + 1, "four sigmas expected");
    if (!numbers(block[2], 0, 3, u_diag)) return line_error(source, first_line + 2, "U11, U22, U33 expected");
    if (!numbers(block[3], 0, 3, dummy)) return line_error(source, first_line + 3, "three sigmas expected");
    if (!numbers(block[4], 0, 3, u_off)) return line_error(source, first_line + 4, "U12, U13, U23 expected");
    if (!numbers(block[5], 0, 3, dummy)) return line_error(source, first_line + 5, "three sigmas expected");
    site.xyz = {xyzo[0], xyzo[1], xyzo[2]};
    site.occupancy = xyzo[3];
    const Mat3 u_cif{Vec3{u_diag[0], u_off[0], u_off[1]}, Vec3{u_off[0], u_diag[1], u_off[2]},
                     Vec3{u_off[1], u_off[2], u_diag[2]}};
    site.u = s.cell.u_cif_to_cartesian(u_cif);
    site.anisotropic = !(u_diag[0] == u_diag[1] && u_diag[1] == u_diag[2] && u_off[0] == 0 && u_off[1] == 0 && u_off[2] == 0);
    s.sites.push_back(std::move(site));
  }
  if (s.sites.empty()) return make_error(ErrorKind::kInvalidArgument, std::string(source) + ": no atoms");
  if (Outcome ok = check_structure(s); !ok.ok()) return make_error(ok.kind(), std::string(source) + ": " + ok.error().message);
  return f;
}

Result<StruFile> read_stru(const std::string& file) {
  Result<std::string> text = read_whole_file(file);
  if (!text.ok()) return text.error();
  return read_stru_text(*text, file);
}

Result<Structure> read_xyz_text(std::string_view text, std::string_view source) {
  const std::vector<std::string_view> lines = lines_of(text);
  Structure s;
  s.periodic = false;
  s.operations.push_back(SymmetryOperation{});
  s.operations.back().text = "x,y,z";
  std::size_t i = 0;
  while (i < lines.size() && words_of(lines[i]).empty()) ++i;
  double count = 0;
  const std::vector<std::string> first = i < lines.size() ? words_of(lines[i]) : std::vector<std::string>{};
  if (first.empty() || !number_of(first[0], count) || count < 1 || count != std::floor(count))
    return line_error(source, i + 1, "an xyz file starts with its number of atoms");
  // Nothing is reserved by the count, and a count beyond the file's lines is never converted: no file lists it.
  const bool beyond = count > static_cast<double>(lines.size());
  const std::size_t atoms = beyond ? lines.size() + 1 : static_cast<std::size_t>(count);
  s.name = i + 1 < lines.size() ? std::string(trim_end(lines[i + 1])) : "";
  i += 2;
  for (; i < lines.size() && s.sites.size() < atoms; ++i) {
    const std::vector<std::string> w = words_of(lines[i]);
    if (w.empty()) continue;
    Site site;
    site.label = w[0] + std::to_string(s.sites.size() + 1);
    if (Outcome a = assign_species(site, w[0]); !a.ok())
      return make_error(a.kind(), std::string(source) + ", line " + std::to_string(i + 1) + ": " + a.error().message);
    double x[3];
    if (!numbers(w, 1, 3, x)) return line_error(source, i + 1, "an atom line is \"EL x y z\"");
    s.sites.push_back(std::move(site));
    s.cartesian.push_back({x[0], x[1], x[2]});
  }
  if (s.sites.size() != atoms)
    return make_error(ErrorKind::kParseError, std::string(source) + ": it announces " +
                                                  (beyond ? quote_for_message(first[0]) : std::to_string(atoms)) +
                                                  " atoms and lists " + std::to_string(s.sites.size()));
  // After the atoms only blank lines, or the next frames of a trajectory: each its count, a comment and its atoms.
  std::size_t frames = 1;
  while (i < lines.size()) {
    const std::vector<std::string> w = words_of(lines[i]);
    if (w.empty()) {
      ++i;
      continue;
    }
    double next = 0;
    if (!count_line(w, next))
      return line_error(source, i + 1,
                        quote_for_message(lines[i]) + " follows the " + std::to_string(atoms) +
                            " atoms the first line announces; it is neither a blank line nor the next frame's "
                            "number of atoms");
    ++frames;
    i += 2;  // the count and the comment
    for (double listed = 0; i < lines.size() && listed < next; ++i) listed += words_of(lines[i]).empty() ? 0 : 1;
  }
  if (frames > 1)
    return Result<Structure>(
        std::move(s), {std::string(source) + " holds " + std::to_string(frames) +
                       " frames, as a trajectory does; the first (" + std::to_string(atoms) + " atoms) is read"});
  return s;
}

Result<Structure> read_xyz(const std::string& file) {
  Result<std::string> text = read_whole_file(file);
  if (!text.ok()) return text.error();
  return read_xyz_text(*text, file);
}

Result<StruFile> read_structure(const std::string& file) {
  const std::size_t dot = file.rfind('.');
  const std::string ext = dot == std::string::npos ? "" : lower(file.substr(dot + 1));
  if (ext == "stru") return read_stru(file);
  StruFile f;
  if (ext == "cif") {
    Result<Structure> s = read_cif(file);
    if (!s.ok()) return s.error();
    f.structure = std::move(*s);
    return Result<StruFile>(std::move(f), s.warnings());
  }
  if (ext == "xyz") {
    Result<Structure> s = read_xyz(file);
    if (!s.ok()) return s.error();
    f.structure = std::move(*s);
    return Result<StruFile>(std::move(f), s.warnings());
  }
  return make_error(ErrorKind::kUnsupported,
                    "\"" + file + "\": a structure is read from a .cif, .stru or .xyz file (by its extension)");
}

}  // namespace talvo
