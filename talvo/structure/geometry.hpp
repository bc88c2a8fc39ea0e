// Three-vectors and 3x3 matrices for cells, symmetry operations and
// displacement tensors: small value types, row-major (m[i][j] is row i).
#pragma once

#include <array>
#include <cmath>
#include <cstddef>

namespace talvo {

using Vec3 = std::array<double, 3>;
using Mat3 = std::array<Vec3, 3>;

constexpr Mat3 identity3() { return Mat3{Vec3{1, 0, 0}, Vec3{0, 1, 0}, Vec3{0, 0, 1}}; }

constexpr Vec3 operator+(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
constexpr Vec3 operator-(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
constexpr Vec3 operator*(double s, const Vec3& a) { return {s * a[0], s * a[1], s * a[2]}; }
constexpr double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline double norm(const Vec3& a) { return std::sqrt(dot(a, a)); }

constexpr Vec3 operator*(const Mat3& m, const Vec3& v) { return {dot(m[0], v), dot(m[1], v), dot(m[2], v)}; }

constexpr Mat3 operator*(const Mat3& a, const Mat3& b) {
  Mat3 c{};
  for (std::size_t i = 0; i < 3; ++i)
    for (std::size_t j = 0; j < 3; ++j)
      for (std::size_t k = 0; k < 3; ++k) c[i][j] += a[i][k] * b[k][j];
  return c;
}
constexpr Mat3 operator+(const Mat3& a, const Mat3& b) {
  Mat3 c{};
  for (std::size_t i = 0; i < 3; ++i)
    for (std::size_t j = 0; j < 3; ++j) c[i][j] = a[i][j] + b[i][j];
  return c;
}
constexpr Mat3 operator*(double s, const Mat3& a) {
  Mat3 c{};
  for (std::size_t i = 0; i < 3; ++i)
    for (std::size_t j = 0; j < 3; ++j) c[i][j] = s * a[i][j];
  return c;
}
constexpr Mat3 transpose(const Mat3& a) {
  Mat3 t{};
  for (std::size_t i = 0; i < 3; ++i)
    for (std::size_t j = 0; j < 3; ++j) t[i][j] = a[j][i];
  return t;
}
constexpr double determinant(const Mat3& m) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}
// The inverse by cofactors; the caller makes sure the determinant is not 0.
constexpr Mat3 inverse(const Mat3& m) {
  const double d = determinant(m);
  Mat3 r{};
  for (std::size_t i = 0; i < 3; ++i)
    for (std::size_t j = 0; j < 3; ++j) {
      const std::size_t i1 = (j + 1) % 3, i2 = (j + 2) % 3, j1 = (i + 1) % 3, j2 = (i + 2) % 3;
      r[i][j] = (m[i1][j1] * m[i2][j2] - m[i1][j2] * m[i2][j1]) / d;
    }
  return r;
}
// The largest absolute difference of two matrices' elements.
inline double max_difference(const Mat3& a, const Mat3& b) {
  double d = 0.0;
  for (std::size_t i = 0; i < 3; ++i)
    for (std::size_t j = 0; j < 3; ++j) d = std::fmax(d, std::fabs(a[i][j] - b[i][j]));
  return d;
}

}  // namespace talvo
