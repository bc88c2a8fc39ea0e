#include "talvo/model/model_options.hpp"

namespace talvo {
namespace {

constexpr OptionSpec kModelOptions[] = {
    {.name = "radiation", .type = OptionType::kChoice, .doc = "X-rays or neutrons", .default_text = "xray",
     .choices = "xray|neutron"},
    {.name = "xray-weights", .type = OptionType::kChoice,
     .doc = "an atom's f: f0 (Waasmaier-Kirfel f0(0), ions included) or z (its electrons, Z - charge)",
     .default_text = "f0", .choices = "f0|z", .when = "radiation=xray"},
    {.name = "r", .type = OptionType::kGrid, .doc = "the r grid in Angstrom", .default_text = "0:20:0.01"},
    {.name = "qmax", .type = OptionType::kNumber, .doc = "the termination's Qmax in 1/A (0: none)",
     .default_text = "0", .low = 0.0},
    {.name = "qmin", .type = OptionType::kNumber, .doc = "the termination's Qmin in 1/A (0: none)",
     .default_text = "0", .needs = "qmax", .low = 0.0},
    {.name = "qdamp", .type = OptionType::kNumber, .doc = "the resolution's damping exp(-(Qdamp r)^2/2), 1/A",
     .default_text = "0", .low = 0.0},
    {.name = "scale", .type = OptionType::kNumber, .doc = "the scale factor", .default_text = "1"},
    {.name = "delta1", .type = OptionType::kNumber, .doc = "the correlated motion's 1/r sharpening, A",
     .default_text = "0"},
    {.name = "delta2", .type = OptionType::kNumber, .doc = "the correlated motion's 1/r^2 sharpening, A^2",
     .default_text = "0"},
    {.name = "qbroad", .type = OptionType::kNumber, .doc = "the peak broadening Qbroad^2 r^2, 1/A",
     .default_text = "0", .low = 0.0},
    {.name = "sratio", .type = OptionType::kNumber, .doc = "the peak width ratio below rcut", .default_text = "1",
     .needs = "rcut", .low = 0.0},
    {.name = "rcut", .type = OptionType::kNumber, .doc = "the r below which sratio applies, A", .default_text = "0",
     .low = 0.0},
    {.name = "spdiameter", .type = OptionType::kNumber, .doc = "a spherical particle's diameter, A (0: a crystal)",
     .default_text = "0", .low = 0.0},
    {.name = "peak-norm", .type = OptionType::kChoice,
     .doc = "peaks divided by r_ij (their exact radial density) or by the grid's r (as PDFfit2)",
     .default_text = "rij", .choices = "rij|r"},
    {.name = "line", .type = OptionType::kChoice,
     .doc = "-4 pi rho0 r added after the termination (as diffpy.srreal) or terminated with the peaks (as PDFfit2)",
     .default_text = "after", .choices = "after|terminated"},
    {.name = "uiso", .type = OptionType::kNumber, .doc = "every atom's Uiso in A^2, in place of the structure's",
     .low = 0.0, .low_open = true},
    {.name = "rho0", .type = OptionType::kNumber,
     .doc = "the line's density in atoms/A^3 (a crystal's N/V unless given; a box has none unless given)",
     .low = 0.0},
    {.name = "partials", .type = OptionType::kFlag, .doc = "each element pair's share of G as well"},
};

constexpr OptionTable kModelTable{"the model", kModelOptions};

}  // namespace

const OptionTable& model_option_table() { return kModelTable; }

ModelOptions model_options_from(const Options& v, const NeutronTable* neutron_table) {
  ModelOptions o;
  o.radiation = v.text("radiation") == "neutron" ? ModelRadiation::kNeutron : ModelRadiation::kXray;
  o.xray_weights = v.text("xray-weights") == "z" ? XrayWeights::kElectrons : XrayWeights::kWaasmaierKirfel;
  o.neutron_table = neutron_table;
  if (const auto g = v.grid("r")) o.rmin = (*g)[0], o.rmax = (*g)[1], o.rstep = (*g)[2];
  o.qmax = v.number("qmax");
  o.qmin = v.number("qmin");
  o.qdamp = v.number("qdamp");
  o.scale = v.number_if("scale").value_or(1.0);
  o.delta1 = v.number("delta1");
  o.delta2 = v.number("delta2");
  o.qbroad = v.number("qbroad");
  o.sratio = v.number_if("sratio").value_or(1.0);
  o.rcut = v.number("rcut");
  o.spdiameter = v.number("spdiameter");
  o.peak_norm = v.text("peak-norm") == "r" ? PeakNorm::kGridR : PeakNorm::kPairDistance;
  o.line_terminated = v.text("line") == "terminated";
  o.uiso = v.number_if("uiso");
  o.rho0 = v.number_if("rho0");
  o.partials = v.flag("partials");
  return o;
}

}  // namespace talvo
