// The lines of the primary data, the report-file head and the results block.
#pragma once

#include <string>
#include <vector>

#include "app/averages.hpp"
#include "app/composition.hpp"
#include "app/nuclear_tables.hpp"

namespace talvo {

// The four banner lines.
std::vector<std::string> banner_lines();

// The primary-data header and one line per isotope of the sample.
std::vector<std::string> primary_data_lines(const std::vector<const NuclearEntry*>& isotopes);

// The head of the report file: banner, units and the primary data.
std::vector<std::string> report_head_lines(const std::string& data_file,
                                           const std::vector<const NuclearEntry*>& isotopes);

// The results block, written to the screen and then to the report file.
std::vector<std::string> results_lines(const Composition& c, const Results& r);

}  // namespace talvo
