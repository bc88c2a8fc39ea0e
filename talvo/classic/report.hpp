// The lines of the primary data, the report-file head and the results block.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/classic/averages.hpp"
#include "talvo/elements/composition.hpp"
#include "talvo/classic/nuclear_tables.hpp"

namespace talvo::classic {

// Lines of text, each ended by a line break. Without a sink they are all
// kept in `text`. With one, the text is handed to it in pieces of about
// kPiece bytes as it is built, so that a large report is never held whole
// (nor its memory taken), and finish() hands on what is left.
struct TextLines {
  std::string text;
  void (*sink)(void* context, std::string_view piece) = nullptr;
  void* context = nullptr;

  static constexpr std::size_t kPiece = std::size_t{1} << 16;

  void push_back(std::string_view line) {
    text += line;
    text += '\n';
    spill();
  }
  // Hands the text on once a piece has gathered.
  void spill() {
    if (text.size() >= kPiece) finish();
  }
  void finish() {
    if (!sink || text.empty()) return;
    sink(context, text);
    text.clear();
  }
};

// The four banner lines.
TextLines banner_lines();

// The primary-data header, and the line of one isotope of the sample.
std::string primary_data_header();
std::string primary_data_line(const NuclearEntry& e);

// The head of the report file: banner, units and the primary data.
TextLines report_head_lines(const std::string& data_file, const std::vector<const NuclearEntry*>& isotopes);

// The results block, written to the screen and to the report file; the
// second form adds it to `out` (and so hands it to out's sink).
TextLines results_lines(const Composition& c, const Results& r);
void results_lines(const Composition& c, const Results& r, TextLines& out);

}  // namespace talvo::classic
