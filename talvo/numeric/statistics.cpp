#include "talvo/numeric/statistics.hpp"

#include <algorithm>
#include <cstddef>

namespace talvo {

double median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const auto mid = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), mid, values.end());
  return *mid;
}

}  // namespace talvo
