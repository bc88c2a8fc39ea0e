// The X-ray material: SLD, attenuation and cross-sections against values
// worked out here from the tables' numbers and the physical constants.
#include "talvo/xray/xray_material.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/elements/mixture.hpp"
#include "talvo/xray/material_fields.hpp"

namespace talvo {
namespace {

constexpr double kPi = 3.14159265358979323846;
// CODATA 2018, exact or as published.
constexpr double kAvogadro = 6.02214076e23;
constexpr double kReCm = 2.8179403262e-13;                                      // classical electron radius, cm
const double kHcKevCm = 6.62607015e-34 * 299792458.0 / 1.602176634e-19 * 1e-1;  // keV cm
constexpr double kMoKa1 = 17.47934;                                             // keV, Bearden (1967)

struct Point {
  double e, f1, f2;
};
double loglog(double e, Point a, Point b, double Point::*v) {
  return std::exp(std::log(a.*v) + std::log(e / a.e) / std::log(b.e / a.e) * (std::log(b.*v) - std::log(a.*v)));
}

struct Hand {
  double sld, sld_im, mu_photo;
};
// For a formula of elements (count, mass, Henke points either side of E).
struct Part {
  double count, mass;
  Point lo, hi;
};
Hand by_hand(const std::vector<Part>& parts, double density, double kev) {
  double mass = 0.0, f1 = 0.0, f2 = 0.0;
  for (const Part& p : parts) {
    mass += p.count * p.mass;
    f1 += p.count * loglog(kev * 1000.0, p.lo, p.hi, &Point::f1);
    f2 += p.count * loglog(kev * 1000.0, p.lo, p.hi, &Point::f2);
  }
  const double units = density * kAvogadro / mass;  // formula units per cm3
  const double lambda = kHcKevCm / kev;             // cm
  // r_e N f in 1/cm^2, 1e-16 cm^2 per A^2, in 1e-6 per A^2.
  return {units * kReCm * f1 * 1e-16 * 1e6, units * kReCm * f2 * 1e-16 * 1e6, units * 2.0 * kReCm * lambda * f2};
}

TEST(XrayMaterial, SldAndPhotoabsorptionByHand) {
  // Henke points (eV, f1, f2) either side of each energy, and the element
  // table's weights: Si 28.0855, O 15.9994, H 1.0079.
  const Point si_lo{7923.77, 14.2607, 0.334747}, si_hi{8051.94, 14.2558, 0.324605};
  const Point o_lo{7920.68, 8.05374, 0.348710E-01}, o_hi{8048.79, 8.05231, 0.336980E-01};
  const Point h_mo_lo{17386.1, 0.999974, 0.169528E-06}, h_mo_hi{17667.4, 0.999974, 0.162895E-06};
  const Point o_mo_lo{17386.1, 8.01167, 0.616006E-02}, o_mo_hi{17667.4, 8.01124, 0.594073E-02};
  const struct {
    const char* formula;
    double density, kev;
    std::vector<Part> parts;
  } cases[] = {
      {"SiO2", 2.2, 8.048, {{1, 28.0855, si_lo, si_hi}, {2, 15.9994, o_lo, o_hi}}},
      {"H2O", 1.0, kMoKa1, {{2, 1.0079, h_mo_lo, h_mo_hi}, {1, 15.9994, o_mo_lo, o_mo_hi}}},
  };
  for (const auto& t : cases) {
    const Result<XrayMaterial> m = xray_material_from_formula(t.formula, t.kev, {.density = t.density});
    ASSERT_TRUE(m.ok()) << m.error().message;
    const Hand h = by_hand(t.parts, t.density, t.kev);
    EXPECT_NEAR(*m->sld, h.sld, 1e-9 * h.sld) << t.formula;
    EXPECT_NEAR(*m->sld_im, h.sld_im, 1e-9 * h.sld_im) << t.formula;
    EXPECT_NEAR(*m->mu_photo, h.mu_photo, 1e-9 * h.mu_photo) << t.formula;
    // n = 1 - delta + i beta with delta = lambda^2 sld / 2 pi; mu_photo = 4 pi beta / lambda.
    const double lambda_a = kHcKevCm / t.kev * 1e8;
    EXPECT_NEAR(*m->delta, lambda_a * lambda_a * h.sld * 1e-6 / (2 * kPi), 1e-9 * *m->delta);
    EXPECT_NEAR(*m->mu_photo, 4 * kPi * *m->beta / (lambda_a * 1e-8), 1e-9 * *m->mu_photo);
    EXPECT_NEAR(*m->critical_angle, std::sqrt(2 * *m->delta) * 180 / kPi, 1e-12);
    EXPECT_NEAR(*m->attenuation_length_photo * *m->mu_photo, 1.0, 1e-15);
  }
  // SiO2 as reflectometry quotes it: about 18.9e-6 and 0.24e-6 per A^2 at 8 keV.
  const Result<XrayMaterial> silica = xray_material_from_formula("SiO2", 8.048, {.density = 2.2});
  EXPECT_NEAR(*silica->sld, 18.86, 0.01);
  EXPECT_NEAR(*silica->sld_im, 0.244, 0.001);
  EXPECT_EQ(silica->electrons, 30.0);
  EXPECT_NEAR(silica->wavelength, 1.54056, 1e-5);
}

// Simpson's rule over [a, b] with n (even) intervals.
double simpson(const std::function<double(double)>& f, double a, double b, int n) {
  const double h = (b - a) / n;
  double s = f(a) + f(b);
  for (int i = 1; i < n; ++i) s += (i % 2 ? 4.0 : 2.0) * f(a + i * h);
  return s * h / 3.0;
}

TEST(XrayMaterial, ScatteringCrossSectionsAgainstDirectIntegrals) {
  const double re2_barn = kReCm * kReCm * 1e24;
  const double kev = 8.048, lambda = kHcKevCm / kev * 1e8;  // Angstrom
  // Rayleigh of O: pi r_e^2 int (1 + mu^2) f0^2 dmu, f0 from the Waasmaier-Kirfel
  // coefficients of O typed in from the paper.
  const double a[] = {2.960427, 2.508818, 0.637853, 0.722838, 1.142756};
  const double b[] = {14.182259, 5.936858, 0.112726, 34.958481, 0.390240};
  const double c = 0.027014;
  const auto f0 = [&](double x) {
    double f = c;
    for (int j = 0; j < 5; ++j) f += a[j] * std::exp(-b[j] * x * x);
    return f;
  };
  const auto x_of = [&](double mu) { return std::sqrt((1.0 - mu) / 2.0) / lambda; };
  const double rayleigh =
      kPi * re2_barn * simpson([&](double mu) { return (1 + mu * mu) * std::pow(f0(x_of(mu)), 2); }, -1, 1, 20000);
  // Compton of H: Klein-Nishina times the exact S = 1 - f^2 of hydrogen.
  const double a0 = 0.529177210903, k = kev / 510.99895;
  const auto s_h = [&](double x) {
    const double u = 2 * kPi * x * a0;
    const double f = 1.0 / ((1 + u * u) * (1 + u * u));
    return 1 - f * f;
  };
  const double compton = kPi * re2_barn *
                         simpson(
                             [&](double mu) {
                               const double p = 1.0 / (1.0 + k * (1.0 - mu));
                               return p * p * (p + 1 / p - 1 + mu * mu) * s_h(x_of(mu));
                             },
                             -1, 1, 20000);
  const Result<XrayMaterial> o = xray_material_from_formula("O", kev);
  const Result<XrayMaterial> h = xray_material_from_formula("H", kev);
  ASSERT_TRUE(o.ok() && h.ok());
  EXPECT_NEAR(o->elements[0].sigma_coh, rayleigh, 1e-6 * rayleigh);
  EXPECT_NEAR(h->elements[0].sigma_incoh, compton, 1e-3 * compton);
  // Thomson's 8 pi r_e^2 / 3 per electron bounds both.
  EXPECT_LT(o->elements[0].sigma_coh, 64 * 8 * kPi / 3 * re2_barn);
  EXPECT_LT(h->elements[0].sigma_incoh, 8 * kPi / 3 * re2_barn);
  // A compound without a density has no SLD or attenuation (a pure element
  // takes its density from the element table).
  const Result<XrayMaterial> co2 = xray_material_from_formula("CO2", kev);
  ASSERT_TRUE(co2.ok());
  EXPECT_FALSE(co2->sld.has_value());
  EXPECT_FALSE(co2->mu_total.has_value());
}

TEST(XrayMaterial, TotalsTransmissionAndCompositions) {
  const Result<XrayMaterial> m = xray_material_from_formula("Gd2O3", 8.04778, {.density = 7.41, .thickness = 1e-3});
  ASSERT_TRUE(m.ok());
  EXPECT_NEAR(*m->mu_total, *m->mu_photo + *m->mu_coh + *m->mu_incoh, 1e-12 * *m->mu_total);
  EXPECT_NEAR(*m->transmission, std::exp(-*m->mu_total * 1e-3), 1e-15);
  EXPECT_NEAR(*m->transmission_photo, std::exp(-*m->mu_photo * 1e-3), 1e-15);
  EXPECT_EQ(m->electrons, 2 * 64 + 3 * 8);
  // The same material from a composition, as any formula front end gives it.
  XrayComposition c{"Gd2O3", {{"Gd", 2.0}, {"O", 3.0}}, 7.41};
  const Result<XrayMaterial> same = xray_material(c, 8.04778, {.thickness = 1e-3});
  ASSERT_TRUE(same.ok());
  EXPECT_EQ(*same->mu_total, *m->mu_total);
  EXPECT_EQ(*same->sld, *m->sld);
  // A mass given with the atoms replaces the element table's.
  c.atoms[1].mass = 2 * 15.9994;
  EXPECT_NEAR(*xray_material(c, 8.04778)->mass, 2 * 157.25 + 3 * 2 * 15.9994, 1e-9);
  // Isotopes and ions scatter as their element.
  EXPECT_EQ(*xray_material_from_formula("Gd{3+}2O{2-}3", 8.04778, {.density = 7.41})->sld, *m->sld);
  const Result<XrayMaterial> heavy = xray_material_from_formula("D2O", kMoKa1, {.density = 1.107});
  const Result<XrayMaterial> light = xray_material_from_formula("H2O", kMoKa1, {.density = 1.0});
  EXPECT_NEAR(*heavy->number_density,
              *light->number_density * 1.107 * (2 * 1.0079 + 15.9994) / (2 * 2.014102 + 15.9994), 1e-15);
  // D and T in a composition weigh what they weigh in a formula, and scatter as H.
  const Result<XrayMaterial> composed = xray_material({"D2O", {{"D", 2.0}, {"O", 1.0}}, 1.107}, kMoKa1);
  ASSERT_TRUE(composed.ok()) << composed.error().message;
  EXPECT_EQ(*composed->number_density, *heavy->number_density);
  const Result<XrayMaterial> tritium = xray_material({"T2O", {{"T", 2.0}, {"O", 1.0}}}, kMoKa1);
  ASSERT_TRUE(tritium.ok()) << tritium.error().message;
  EXPECT_NEAR(*tritium->mass, *xray_material_from_formula("T2O", kMoKa1)->mass, 1e-12);
  EXPECT_NEAR(*tritium->mass, 2 * 3.016049 + 15.9994, 1e-12);
  EXPECT_EQ(tritium->f1, light->f1);
  // Every listed isotope has its mass (6Li 6.015122, NIST); an unlisted one has none.
  EXPECT_NEAR(*xray_material_from_formula("Li[6]F", 8.0)->mass, 6.015122 + 18.9984, 1e-12);
  const double lif = *xray_material_from_formula("LiF", 8.0, {.density = 2.6})->sld;
  EXPECT_NEAR(*xray_material_from_formula("Li[6]F", 8.0, {.density = 2.6})->sld,
              lif * (6.9409 + 18.9984) / (6.015122 + 18.9984), 1e-13 * lif);
  EXPECT_FALSE(xray_material_from_formula("Li[5]F", 8.0)->mass.has_value());
}

TEST(XrayMaterial, MixturesAndDensitiesInTheFormula) {
  // H2O and D2O@1n (1 g/cm3 scaled by mass, same molar volume) hold the same
  // electrons per volume, so by volume 50/50 the density is the mean,
  // (1 + 20.0274/18.0153)/2 = 1.05585 g/cm3, and the X-ray SLD is water's.
  const Result<XrayMaterial> water = xray_material_from_formula("H2O@1", 8.048);
  const Result<XrayMaterial> mix = xray_material_from_formula("50%vol H2O@1 // D2O@1n", 8.048);
  ASSERT_TRUE(water.ok() && mix.ok());
  EXPECT_NEAR(*mix->density, 1.05585, 1e-5);
  EXPECT_NEAR(*mix->sld / *water->sld, 1.0, 1e-12);
  EXPECT_NEAR(*mix->number_density / *water->number_density, 1.0, 1e-12);
  // A pure element takes its density from the element table and says so;
  // the caller's density replaces it, and the note with it.
  const Result<XrayMaterial> iron = xray_material_from_formula("Fe", 8.048);
  ASSERT_TRUE(iron.ok());
  EXPECT_DOUBLE_EQ(*iron->density, 7.874);
  ASSERT_EQ(iron.warnings().size(), 1u);
  EXPECT_NE(iron.warnings()[0].find("element table"), std::string::npos) << iron.warnings()[0];
  XrayMaterialOptions o;
  o.density = 7.8;
  const Result<XrayMaterial> given = xray_material_from_formula("Fe", 8.048, o);
  ASSERT_TRUE(given.ok());
  EXPECT_DOUBLE_EQ(*given->density, 7.8);
  EXPECT_TRUE(given.warnings().empty());
  // A malformed mixture is the mixture reader's error, naming the component.
  const Result<XrayMaterial> bad = xray_material_from_formula("50%vol H2O // D2O@1n", 8.048);
  ASSERT_FALSE(bad.ok());
  EXPECT_NE(bad.error().message.find("H2O"), std::string::npos) << bad.error().message;
  // A thickness without a density gives no transmission, and says so, as xs says it.
  XrayMaterialOptions thin;
  thin.thickness = 0.001;
  const Result<XrayMaterial> no_density = xray_material_from_formula("Fe2O3", 8.048, thin);
  ASSERT_TRUE(no_density.ok());
  EXPECT_FALSE(no_density->transmission);
  ASSERT_EQ(no_density.warnings().size(), 1u);
  EXPECT_EQ(no_density.warnings()[0], kThicknessWithoutDensity);
}

TEST(XrayMaterial, JsonHasTheEnergyFirstAndTheKeysOfXs) {
  const Result<XrayMaterial> m = xray_material_from_formula("SiO2", 8.048, {.density = 2.2});
  const std::string json = xray_material_json(*m);
  EXPECT_EQ(json.rfind("{\"energy\": 8.048, \"wavelength\": ", 0), 0u) << json;
  for (const char* key : {"\"number_density\": ", "\"sld\": ", "\"sld_im\": ", "\"mu_photo\": ", "\"mu_total\": ",
                          "\"transmission\": null", "\"elements\": [{\"symbol\": \"Si\", \"z\": 14"})
    EXPECT_NE(json.find(key), std::string::npos) << key;
}

TEST(XrayMaterial, NoCriticalAngleWhereTheIndexIsAboveOne) {
  // Ac at 85.8491 eV, a point of Henke's table: f1 = -27.1953, so delta < 0
  // and there is no total external reflection; the SLD is negative.
  const Result<XrayMaterial> m = xray_material_from_formula("Ac", 0.0858491, {.density = 10.0});
  ASSERT_TRUE(m.ok()) << m.error().message;
  EXPECT_NEAR(m->f1, -27.1953, 1e-9);
  EXPECT_LT(*m->sld, 0.0);
  EXPECT_LT(*m->delta, 0.0);
  EXPECT_FALSE(m->critical_angle.has_value());
  const std::string json = xray_material_json(*m);
  EXPECT_NE(json.find("\"critical_angle\": null"), std::string::npos) << json;
  EXPECT_EQ(json.find("nan"), std::string::npos) << json;
  // Just above 0: a critical angle that is small but there.
  EXPECT_GT(*xray_material_from_formula("Ac", 0.0743057, {.density = 10.0})->critical_angle, 0.0);
}

TEST(XrayMaterial, BadInputsAreErrorsThatNameThem) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* formula;
    double kev;
    XrayMaterialOptions options;
    ErrorKind kind;
    const char* says;
  } cases[] = {
      {"", 8.0, {}, ErrorKind::kParseError, "empty formula"},
      {"SiO2", 0.001, {}, ErrorKind::kOutOfRange, "outside the tables' 10 eV to 432.9451 keV"},
      {"SiO2", 435.0, {}, ErrorKind::kOutOfRange, "435 keV"},
      {"SiO2", nan, {}, ErrorKind::kInvalidArgument, "not a number"},
      {"SiO2", 0.02, {}, ErrorKind::kOutOfRange, "eV, not at 0.02 keV"},
      {"PuO2", 8.0, {}, ErrorKind::kOutOfRange, "not Pu (Z = 94)"},
      {"Qq", 8.0, {}, ErrorKind::kNotFound, "unknown element \"Qq\""},
      {"SiO2", 8.0, {.density = -2.2}, ErrorKind::kInvalidArgument, "density must be above 0"},
      {"SiO2", 8.0, {.density = 2.2, .thickness = nan}, ErrorKind::kInvalidArgument, "thickness"},
      {"Li[5]F", 8.0, {.density = 2.6}, ErrorKind::kNotFound, "no mass is listed for the isotope Li[5]"},
      // Densities whose SLD, mu or attenuation length would be inf (no NaN or inf is ever a value).
      {"SiO2", 8.0, {.density = 1e308}, ErrorKind::kOutOfRange, "the density 1e+308 g/cm3 gives values beyond"},
      {"SiO2", 8.0, {.density = 1e-320}, ErrorKind::kOutOfRange, "the density 1e-320 g/cm3 gives values beyond"},
  };
  for (const auto& t : cases) {
    const Result<XrayMaterial> m = xray_material_from_formula(t.formula, t.kev, t.options);
    ASSERT_FALSE(m.ok()) << t.formula << " " << t.kev;
    EXPECT_EQ(m.kind(), t.kind) << m.error().message;
    EXPECT_NE(m.error().message.find(t.says), std::string::npos) << m.error().message;
  }
  EXPECT_EQ(xray_material(XrayComposition{}, 8.0).kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(xray_material(XrayComposition{"x", {{"Si", 0.0}}}, 8.0).kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(xray_material(XrayComposition{"x", {{"Zz", 1.0}}}, 8.0).kind(), ErrorKind::kNotFound);
  // Counts each in range that add up beyond it.
  const Result<XrayMaterial> sum = xray_material(XrayComposition{"x", {{"Fe", 1e308}, {"O", 1e308}}}, 8.0);
  EXPECT_EQ(sum.kind(), ErrorKind::kOutOfRange);
  EXPECT_NE(sum.error().message.find("the counts of x add up beyond the range of numbers"), std::string::npos);
}

// The table's values, read by name, keep the relations the header states:
// an accessor that read another member would break one of them. What each
// value needs is what the material computes it with.
TEST(XrayMaterialFields, ValuesByNameKeepTheirRelations) {
  const Result<XrayMaterial> r = xray_material_from_formula("Fe2O3", 17.48, {.density = 5.24, .thickness = 0.01});
  ASSERT_TRUE(r.ok()) << r.error().message;
  const XrayMaterial& m = *r;
  const auto v = [&](std::string_view name, XrayScope scope = XrayScope::kMaterial, std::size_t index = 0) {
    const XrayField* f = find_xray_field(scope, name);
    EXPECT_NE(f, nullptr) << name;
    return f ? xray_value(m, *f, index).value_or(std::numeric_limits<double>::quiet_NaN())
             : std::numeric_limits<double>::quiet_NaN();
  };
  const double pi = kPi;
  EXPECT_NEAR(v("wavelength") * v("energy"), kHcKevCm * 1e8, 1e-9);
  EXPECT_DOUBLE_EQ(v("atoms"), 5.0);
  EXPECT_DOUBLE_EQ(v("electrons"), 2 * 26 + 3 * 8);
  EXPECT_NEAR(v("number_density"), v("density") / (1.66053906660 * v("mass")) * v("atoms"), 1e-15);
  EXPECT_NEAR(v("sld") / v("sld_im"), v("f1") / v("f2"), 1e-12);
  EXPECT_NEAR(v("delta"), v("wavelength") * v("wavelength") * v("sld") * 1e-6 / (2 * pi), 1e-18);
  EXPECT_NEAR(v("beta"), v("wavelength") * v("wavelength") * v("sld_im") * 1e-6 / (2 * pi), 1e-20);
  EXPECT_NEAR(v("critical_angle"), std::sqrt(2 * v("delta")) * 180 / pi, 1e-12);
  const XrayScope atom = XrayScope::kPerAtom;
  for (const char* part : {"photo", "coh", "incoh", "total"})
    EXPECT_NEAR(v(std::string("mu_") + part), v("number_density") * v(std::string("sigma_") + part, atom), 1e-9)
        << part;
  EXPECT_NEAR(v("sigma_total", atom), v("sigma_photo", atom) + v("sigma_coh", atom) + v("sigma_incoh", atom), 1e-9);
  EXPECT_LT(v("sigma_coh", atom), v("sigma_photo", atom));  // at 17.48 keV, Fe absorbs more than it scatters
  EXPECT_DOUBLE_EQ(v("attenuation_length_photo"), 1 / v("mu_photo"));
  EXPECT_DOUBLE_EQ(v("attenuation_length"), 1 / v("mu_total"));
  EXPECT_DOUBLE_EQ(v("thickness"), 0.01);
  EXPECT_DOUBLE_EQ(v("transmission_photo"), std::exp(-v("mu_photo") * 0.01));
  EXPECT_DOUBLE_EQ(v("transmission"), std::exp(-v("mu_total") * 0.01));
  const XrayScope element = XrayScope::kElement;
  double f1 = 0, sigma = 0;
  for (std::size_t i = 0; i < m.elements.size(); ++i) {
    EXPECT_DOUBLE_EQ(v("f_double_prime", element, i), v("f2", element, i));
    EXPECT_LT(std::abs(v("f1", element, i) - v("f_prime", element, i) - v("z", element, i)), 0.1);
    f1 += v("count", element, i) * v("f1", element, i);
    sigma += v("fraction", element, i) * v("sigma_incoh", element, i);
  }
  EXPECT_NEAR(f1, v("f1"), 1e-12);
  EXPECT_NEAR(sigma, v("sigma_incoh", atom), 1e-12);
  EXPECT_EQ(xray_text(m, *find_xray_field(element, "symbol"), 1), "O");
  EXPECT_EQ(xray_text(m, *find_xray_field(XrayScope::kMaterial, "f_table"), 0), "henke93");
  // An element the material lacks, and a number asked of a text, are nothing.
  EXPECT_FALSE(xray_value(m, *find_xray_field(element, "f1"), 2).has_value());
  EXPECT_FALSE(xray_value(m, *find_xray_field(element, "symbol"), 0).has_value());
  EXPECT_EQ(xray_text(m, *find_xray_field(element, "symbol"), 2), "");

  // Each value is known exactly where what it needs is given.
  const Result<XrayMaterial> bare = xray_material_from_formula("Fe2O3", 17.48);
  ASSERT_TRUE(bare.ok());
  for (const XrayField& f : xray_material_fields()) {
    EXPECT_NE(f.number == nullptr, f.text == nullptr) << f.name;
    EXPECT_EQ(f.text != nullptr, f.kind == XrayValueKind::kText) << f.name;
    if (f.kind == XrayValueKind::kText) continue;
    EXPECT_TRUE(xray_value(m, f).has_value()) << f.name;
    EXPECT_EQ(xray_value(*bare, f).has_value(), f.needs == XrayNeeds::kNothing) << f.name;
    EXPECT_EQ(xray_field_known(*bare, f), f.needs == XrayNeeds::kNothing) << f.name;
    EXPECT_EQ(f.kind == XrayValueKind::kOptionalNumber, f.needs != XrayNeeds::kNothing || f.name == "mass") << f.name;
  }
  const XrayMaterial no_thickness = *xray_material_from_formula("Fe2O3", 17.48, {.density = 5.24});
  for (const XrayField& f : xray_material_fields()) {
    if (f.kind != XrayValueKind::kText) {
      EXPECT_EQ(xray_value(no_thickness, f).has_value(), f.needs != XrayNeeds::kThickness) << f.name;
    }
  }

  EXPECT_EQ(xray_field_unit_shown(*find_xray_field(atom, "sigma_coh")), "barn per atom");
  EXPECT_EQ(xray_field_unit_shown(*find_xray_field(XrayScope::kMaterial, "mass")), "amu per formula unit");
  EXPECT_EQ(xray_field_unit_shown(*find_xray_field(XrayScope::kMaterial, "atoms")), "per formula unit");
  EXPECT_EQ(xray_field_unit_shown(*find_xray_field(XrayScope::kMaterial, "sld")), "1e-6/A2");
  EXPECT_EQ(xray_field_symbol(*find_xray_field(element, "f_prime")), "f'");
  EXPECT_EQ(xray_field_symbol(*find_xray_field(element, "f1")), "f1");
  EXPECT_EQ(find_xray_field(XrayScope::kPerAtom, "f1"), nullptr);
}

}  // namespace
}  // namespace talvo
