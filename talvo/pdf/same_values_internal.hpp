// Columns told apart bit for bit, and the items that share one: how a series'
// patterns on one grid are found to share a transform or a column's text.
#pragma once

#include <cstddef>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

namespace talvo::pdf {

// Whether a and b hold the same doubles, bit for bit: -0 is not 0, and a NaN
// is itself.
inline bool same_values(std::span<const double> a, std::span<const double> b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// `items` in groups of those that `same(first, other)` puts with the first of
// each group, every group in the order given and the groups in the order of
// their first items.
template <class Same>
std::vector<std::vector<std::size_t>> groups_of(std::vector<std::size_t> items, Same same) {
  std::vector<std::vector<std::size_t>> groups;
  while (!items.empty()) {
    std::vector<std::size_t> group, rest;
    for (std::size_t i : items) (same(items.front(), i) ? group : rest).push_back(i);
    items = std::move(rest);
    groups.push_back(std::move(group));
  }
  return groups;
}

}  // namespace talvo::pdf
