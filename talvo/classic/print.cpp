#include "talvo/classic/print.hpp"

#include <ostream>

#include "talvo/text/format.hpp"
#include "talvo/classic/words.hpp"

namespace talvo::classic {

void pr_int(std::ostream& out, std::string_view label, long long value) {
  out << ' ' << label << fmt_i(value, len_int(value)) << '\n';
}

void pr_par(std::ostream& out, std::string_view label, float value) {
  out << ' ' << label << fmt_e(value, 14, 7) << '\n';
}

void pr_dpar(std::ostream& out, std::string_view label, double value) {
  out << ' ' << label << fmt_e(value, 20, 13) << '\n';
}

void pr_dpar_2(std::ostream& out, std::string_view l1, double v1, std::string_view l2, double v2) {
  out << ' ' << l1 << fmt_e(v1, 14, 7) << l2 << fmt_e(v2, 14, 7) << '\n';
}

void pr_dpar_3(std::ostream& out, std::string_view l1, double v1, std::string_view l2, double v2, std::string_view l3,
               double v3) {
  out << ' ' << l1 << fmt_e(v1, 14, 7) << l2 << fmt_e(v2, 14, 7) << l3 << fmt_e(v3, 14, 7) << '\n';
}

}  // namespace talvo::classic
