// One labelled value per console line. Each line starts with one blank and
// shows the label in full (callers end labels with a blank).
#pragma once

#include <iosfwd>
#include <string_view>

namespace talvo::classic {

void pr_int(std::ostream& out, std::string_view label, long long value);  // label, integer in LEN_INT columns
void pr_par(std::ostream& out, std::string_view label, float value);      // label, E14.7
void pr_dpar(std::ostream& out, std::string_view label, double value);    // label, E20.13
void pr_dpar_2(std::ostream& out, std::string_view l1, double v1, std::string_view l2, double v2);
void pr_dpar_3(std::ostream& out, std::string_view l1, double v1, std::string_view l2, double v2, std::string_view l3,
               double v3);

}  // namespace talvo::classic
