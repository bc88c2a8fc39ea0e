// Order statistics of a sample of values.
#pragma once

#include <vector>

namespace talvo {

// The median of `values` as the library takes it: the element n/2 (from 0)
// of the values in increasing order, the upper of the two middle ones for an
// even count, so that it is always one of the values. 0 for none.
double median(std::vector<double> values);

}  // namespace talvo
