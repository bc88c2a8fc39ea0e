// What a reduction can tell about itself from its own results: three measured
// symptoms of a wrong reduction, each with the level past which it is told in
// words.
//
//   high-Q mean   the mean of S(Q) over the top fifth of the Q range, where S
//                 oscillates about 1; sigma = sqrt(sum sigma_i^2) / N
//   floor         the lowest value of S(Q) smoothed by a running mean over
//                 +-0.1 1/A, against the floor no intensity can go below,
//                 S >= 1 - <|f|^2> / |<f>|^2 (Faber-Ziman: the scattering
//                 itself is never negative)
//   low r         the rms of G(r) + 4 pi rho0 r over 0.5 A to rmin-check,
//                 where no atoms are and G must follow -4 pi rho0 r
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "talvo/result.hpp"

namespace talvo::pdf {

struct DiagnosticOptions {
  double rmin_check = 1.0;         // Angstrom: below the first interatomic distance
  double high_q_tolerance = 0.05;  // the high-Q mean may depart from 1 by this much
  double floor_tolerance = 0.1;    // and the smoothed S go this far below its floor
  // The low-r rms may reach this fraction of 4 pi rho0 rmin-check, the line's
  // own depth where the check ends.
  double low_r_tolerance = 1.0;
};

struct Diagnostics {
  double high_q_mean = 0.0, high_q_sigma = 0.0;  // over Q from high_q_from to the end
  double high_q_from = 0.0;
  double lowest_smoothed = 0.0, lowest_at = 0.0;  // the smoothed S's lowest value above Q = 1 1/A, and where
  double floor_there = 0.0;                       // 1 - <|f|^2> / |<f>|^2 at that Q
  std::optional<double> low_r_rms;                // when G reaches rmin-check and rho0 is known
  double low_r_level = 0.0;                       // the rms above which a warning is given
  std::vector<std::string> warnings;              // one a symptom, with its usual causes
};

// S with its sigma, <|f|^2> and |<f>|^2 on the same ascending Q (1/A); G on
// ascending r (A) from a reduction of number density rho0 (atoms/A^3).
// Refused (kInvalidArgument): arrays of unequal lengths, fewer than 5 Q,
// rmin-check not above 0.5 A.
Result<Diagnostics> diagnose(std::span<const double> q, std::span<const double> s, std::span<const double> sigma_s,
                             std::span<const double> f2, std::span<const double> f_mean_sq, std::span<const double> r,
                             std::span<const double> g, std::optional<double> rho0,
                             const DiagnosticOptions& options = {});

}  // namespace talvo::pdf
