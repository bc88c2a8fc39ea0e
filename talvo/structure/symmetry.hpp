// Symmetry operations of a space group as crystallographers write them
// ("-y,x-y,z+1/2"), and what they leave a site free to do.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "talvo/result.hpp"
#include "talvo/structure/geometry.hpp"

namespace talvo {

// x' = r x + t in fractional coordinates.
struct SymmetryOperation {
  Mat3 r = identity3();
  Vec3 t{};
  std::string text;  // as read; "x,y,z" for the identity made here
};

// One operation in the xyz form of CIF and of the International Tables:
// three comma-separated expressions, each a sum of terms [+|-][number[/number]][*](x|y|z)
// or a constant (a fraction or a decimal), case-blind, blanks anywhere.
// kParseError for any other text, quoting it.
Result<SymmetryOperation> parse_operation(std::string_view text);

// The operation's image of a point, not wrapped.
inline Vec3 apply(const SymmetryOperation& op, const Vec3& x) { return op.r * x + op.t; }

// Wraps each coordinate into [0, 1).
Vec3 wrap_unit(const Vec3& x);
// The fractional difference a - b moved by whole cells to lie within [-1/2, 1/2).
Vec3 nearest_image(const Vec3& a, const Vec3& b);

// How a site's coordinates or displacement components may move: `free` of
// them do (the named components, each a pivot of its column of `basis`), the
// others follow as value_k = sum_p basis[p][k] * value(free_p).
struct SiteConstraint {
  std::vector<int> free;                   // indices of the components that move
  std::vector<std::vector<double>> basis;  // one row per free component: its effect on every component
  std::vector<std::string> rules;          // "z = 0", "y = x", "U22 = U11", "U12 = 0.5 U11"
};

}  // namespace talvo
