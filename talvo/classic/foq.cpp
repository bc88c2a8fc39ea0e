#include <algorithm>
#include <cmath>
#include <numbers>
#include <ostream>

#include "talvo/classic/elements.hpp"
#include "talvo/classic/formfactor.hpp"
#include "talvo/classic/print.hpp"
#include "talvo/xray/formfactor.hpp"

namespace talvo::classic {
namespace {

double form_factor(double q, const FormFactorParams& p) {
  const double s = (q * 0.25) / std::numbers::pi;
  const double s2 = s * s;
  double f = p.c;
  for (int j = 0; j < p.n; ++j) {
    const auto k = static_cast<std::size_t>(j);
    f += p.a[k] * std::exp(-p.b[k] * s2);
  }
  return f;
}

}  // namespace

void foq_wk_qn(std::span<double> fq, std::span<const double> q, const FormFactorParams& p) {
  single_precision_form_factors(fq, q, p);
}

double foq_wk_q1(double q, const FormFactorParams& p) { return form_factor(q, p); }

Status foq(std::span<double> fq, std::span<const double> q, FormFactorParams& p, std::string_view symbol,
           FoqMode ifoqmode, DataMode data_mode, int iprint, std::ostream& out, const DataFolder& folder) {
  if (iprint != 0) out << " foq: element=" << symbol << '\n';
  Status status;
  Status lookup;
  if (ifoqmode == FoqMode::kWaasmaierKirfel)
    lookup = get_wkpar_neut(symbol, p, iprint, data_mode, out, folder);
  else if (ifoqmode == FoqMode::kInternationalTables)
    lookup = get_itpar_neut(symbol, p, iprint, data_mode, out, folder);
  else
    return Status::error(11, "**foq Error 11: Unrecognised value for ifoqmode");
  if (!lookup.ok()) {
    if (iprint != 0) {
      classic::pr_int(out, "Error getting form factor parameters, number ", lookup.ierr);
      out << ' ' << lookup.message << '\n';
    }
    return lookup;
  }
  const std::size_t nq = std::min(fq.size(), q.size());
  if (nq > 0 && q[nq - 1] > kFoqQmax)
    status = Status::warning(9, "**foq Error 9: Qmax exceeds Q-range of form factor data");
  foq_wk_qn(fq.first(nq), q.first(nq), p);
  return status;
}

Status zfoq(std::span<double> fq, std::span<const double> q, FormFactorParams& p, double& weight, std::string& symbol,
            int z, FoqMode ifoqmode, DataMode data_mode, int iprint, std::ostream& out, const DataFolder& folder) {
  if (iprint != 0) classic::pr_int(out, "Zfoq: Z=", z);
  Status found = z2ele(symbol, z, weight, iprint, out);
  if (!found.ok()) return found;
  return foq(fq, q, p, symbol, ifoqmode, data_mode, iprint, out, folder);
}

}  // namespace talvo::classic
