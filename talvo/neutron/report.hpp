// The lines of the primary data, the report-file head and the results block.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "talvo/neutron/averages.hpp"
#include "talvo/neutron/composition.hpp"
#include "talvo/neutron/nuclear_tables.hpp"

namespace talvo {

// Lines of text kept in one buffer, each ended by a line break.
struct TextLines {
  std::string text;
  void push_back(std::string_view line) {
    text += line;
    text += '\n';
  }
};

// The four banner lines.
TextLines banner_lines();

// The primary-data header, and the line of one isotope of the sample.
std::string primary_data_header();
std::string primary_data_line(const NuclearEntry& e);

// The head of the report file: banner, units and the primary data.
TextLines report_head_lines(const std::string& data_file, const std::vector<const NuclearEntry*>& isotopes);

// The results block, written to the screen and then to the report file.
TextLines results_lines(const Composition& c, const Results& r);

}  // namespace talvo
