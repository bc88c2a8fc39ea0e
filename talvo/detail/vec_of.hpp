// kLanes doubles side by side, one register of the instruction set a build is
// made for (8 with AVX-512, 4 with AVX2, 2 with SSE2), for the loops that the
// library builds once per instruction set. One specialisation a width: GCC
// drops vector_size on a type that depends on a template parameter.
#pragma once

#include <cstddef>

namespace talvo::detail {

template <std::size_t kLanes>
struct VecOf;
template <>
struct VecOf<2> {
  using type = double __attribute__((vector_size(16)));
};
template <>
struct VecOf<4> {
  using type = double __attribute__((vector_size(32)));
};
template <>
struct VecOf<8> {
  using type = double __attribute__((vector_size(64)));
};

}  // namespace talvo::detail
