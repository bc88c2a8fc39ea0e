#include "talvo/model/model_options.hpp"

namespace talvo {
namespace {

constexpr OptionSpec kRadiation{.name = "radiation", .type = OptionType::kChoice, .doc = "X-rays or neutrons", .default_text = "xray",
     .choices = "xray|neutron"};
constexpr OptionSpec kXrayWeights{.name = "xray-weights", .type = OptionType::kChoice,
     .doc = "an atom's f: f0 (Waasmaier-Kirfel f0(0), ions included) or z (its electrons, Z - charge)",
     .default_text = "f0", .choices = "f0|z", .when = "radiation=xray"};
constexpr OptionSpec kR{.name = "r", .type = OptionType::kGrid, .doc = "the r grid in Angstrom", .default_text = "0:20:0.01"};
// The peaks are summed every 0.01 A at most, which carries Q up to pi / 0.01: a Qmax far below that.
constexpr OptionSpec kQmax{.name = "qmax", .type = OptionType::kNumber, .doc = "the termination's Qmax in 1/A (0: none)",
     .default_text = "0", .low = 0.0, .high = 200.0};
constexpr OptionSpec kQmin{.name = "qmin", .type = OptionType::kNumber, .doc = "the termination's Qmin in 1/A (0: none)",
     .default_text = "0", .needs = "qmax", .low = 0.0};
constexpr OptionSpec kQdamp{.name = "qdamp", .type = OptionType::kNumber, .doc = "the resolution's damping exp(-(Qdamp r)^2/2), 1/A",
     .default_text = "0", .low = 0.0};
constexpr OptionSpec kScale{.name = "scale", .type = OptionType::kNumber, .doc = "the scale factor", .default_text = "1"};
constexpr OptionSpec kDelta1{.name = "delta1", .type = OptionType::kNumber, .doc = "the correlated motion's 1/r sharpening, A",
     .default_text = "0"};
constexpr OptionSpec kDelta2{.name = "delta2", .type = OptionType::kNumber, .doc = "the correlated motion's 1/r^2 sharpening, A^2",
     .default_text = "0"};
constexpr OptionSpec kQbroad{.name = "qbroad", .type = OptionType::kNumber, .doc = "the peak broadening Qbroad^2 r^2, 1/A",
     .default_text = "0", .low = 0.0};
constexpr OptionSpec kSratio{.name = "sratio", .type = OptionType::kNumber, .doc = "the peak width ratio below rcut", .default_text = "1",
     .needs = "rcut", .low = 0.0};
constexpr OptionSpec kRcut{.name = "rcut", .type = OptionType::kNumber, .doc = "the r below which sratio applies, A", .default_text = "0",
     .low = 0.0};
constexpr OptionSpec kSpdiameter{.name = "spdiameter", .type = OptionType::kNumber, .doc = "a spherical particle's diameter, A (0: a crystal)",
     .default_text = "0", .low = 0.0};
constexpr OptionSpec kPeakNorm{.name = "peak-norm", .type = OptionType::kChoice,
     .doc = "peaks divided by r_ij (their exact radial density) or by the grid's r (as PDFfit2)",
     .default_text = "rij", .choices = "rij|r"};
constexpr OptionSpec kLine{.name = "line", .type = OptionType::kChoice,
     .doc = "-4 pi rho0 r added after the termination (as diffpy.srreal) or terminated with the peaks (as PDFfit2)",
     .default_text = "after", .choices = "after|terminated"};
constexpr OptionSpec kUiso{.name = "uiso", .type = OptionType::kNumber, .doc = "every atom's Uiso in A^2, in place of the structure's",
     .low = 0.0, .high = 10.0, .low_open = true};
constexpr OptionSpec kRho0{.name = "rho0", .type = OptionType::kNumber,
     .doc = "the line's density in atoms/A^3 (a crystal's N/V unless given; a box has none unless given)",
     .low = 0.0};
constexpr OptionSpec kPartials{.name = "partials", .type = OptionType::kFlag, .doc = "each element pair's share of G as well"};

constexpr OptionSpec kModelOptions[] = {kRadiation, kXrayWeights, kR, kQmax, kQmin, kQdamp, kScale, kDelta1, kDelta2, kQbroad, kSratio, kRcut, kSpdiameter, kPeakNorm, kLine, kUiso, kRho0, kPartials};

// The refinement's: what it fits, over which r, and the model's own but its grid.
constexpr OptionSpec kRefine{.name = "refine", .type = OptionType::kList,
                             .doc = "the parameters to fit, each NAME or NAME=START (scale, a, uiso, uiso:S, x:S, sratio, ...)"};
constexpr OptionSpec kRange{.name = "r", .type = OptionType::kText, .doc = "the fit's range of r in Angstrom",
                            .default_text = "1.5:20", .metavar = "FROM:TO"};
constexpr OptionSpec kRefineOptions[] = {kRefine, kRange, kRadiation, kXrayWeights, kQmax, kQmin, kQdamp, kScale, kDelta1, kDelta2, kQbroad, kSratio, kRcut, kSpdiameter, kPeakNorm, kLine, kUiso, kRho0};

constexpr OptionTable kModelTable{"the model", kModelOptions};
constexpr OptionTable kRefineTable{"the refinement", kRefineOptions};

}  // namespace

const OptionTable& model_option_table() { return kModelTable; }
const OptionTable& refine_option_table() { return kRefineTable; }

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
