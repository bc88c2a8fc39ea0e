#include "talvo/pdf/reduce.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>
#include <optional>

#include "talvo/numeric/filon.hpp"
#include "talvo/numeric/statistics.hpp"
#include "talvo/pdf/same_values_internal.hpp"
#include "talvo/pdf/stages.hpp"
#include "talvo/text/format.hpp"

namespace talvo::pdf {
namespace {

// The warnings of r added to `into`.
template <class T>
void collect(const Result<T>& r, std::vector<std::string>& into) {
  into.insert(into.end(), r.warnings().begin(), r.warnings().end());
}

double median_step(std::span<const double> q) {
  std::vector<double> d;
  for (std::size_t i = 1; i < q.size(); ++i) d.push_back(q[i] - q[i - 1]);
  return median(std::move(d));
}

// A reduction up to F(Q), with what the stages after the transform need.
struct Prepared {
  Reduction red;
  std::vector<std::string> warnings;
  Grids grids;
  SampleModel model;
};

Result<Prepared> prepare(const Inputs& in, const ReductionOptions& o) {
  std::vector<std::string> warnings;
  Reduction red;
  const bool physical = o.mode == Mode::kPhysical;
  if (!physical && o.qmaxinst && !(*o.qmaxinst > 0.0))
    return make_error(ErrorKind::kInvalidArgument, "qmaxinst must be above 0 1/Angstrom, not " + shortest(*o.qmaxinst));

  if (!physical && in.container)
    return make_error(ErrorKind::kInvalidArgument,
                      "the empty container belongs to the physical mode; ad hoc mode fits the corrections away");
  Result<MeasuredQ> measured = measure_q(in, o);
  if (!measured.ok()) return measured.error();
  collect(measured, warnings);
  const MeasuredQ& m = *measured;
  red.outliers = m.outliers;

  if (stop_asked(o.stop)) return cancelled();
  Result<Grids> grids = make_grids(m, o);
  if (!grids.ok()) return grids.error();
  collect(grids, warnings);
  const Grids& g = *grids;

  SampleModelOptions so = o.sample;
  so.wavelength = o.wavelength.value_or(0.0);
  so.breit_dirac = o.breit_dirac;
  Result<SampleModel> model = sample_model(m.q, so);
  if (!model.ok()) return model.error();
  collect(model, warnings);
  red.number_density = model->number_density;
  red.mu = model->mu;
  red.f_table = model->f_table;

  if (stop_asked(o.stop)) return cancelled();
  Structure st;
  if (physical) {
    Result<Corrected> c = physical_intensity(m, *model, o);
    if (!c.ok()) return c.error();
    collect(c, warnings);
    Result<Normalised> n = normalise(m, *c, *model, g, o);
    if (!n.ok()) return n.error();
    red.alpha = n->alpha;
    red.alpha_sigma = n->alpha_sigma;
    red.mu_x = c->mu_x;
    red.absorption_min = c->absorption_min;
    red.absorption_max = c->absorption_max;
    red.compton_subtracted = true;
    const std::size_t top = g.end - 1;
    red.compton_fraction_at_qmax = (c->model[top] - model->f2[top]) / c->model[top];
    st = physical_structure(m, *c, *n, *model, g);
  } else {
    Result<AdhocStructure> a = adhoc_structure(m, *model, g, o);
    if (!a.ok()) return a.error();
    collect(a, warnings);
    red.alpha = a->scale;
    red.poly_degree = a->degree;
    st = std::move(a->structure);
  }
  red.iq = Curve{m.q, std::move(st.iq), std::move(st.iq_sigma)};
  red.model = std::move(st.model);
  red.sq = std::move(st.sq);
  red.fq = std::move(st.fq);
  red.qmin = red.fq.x.front();
  red.qmax = g.qmax;
  red.qstep = median_step(red.fq.x);
  if (o.extrapolate != LowQExtrapolation::kNone) {
    Result<std::size_t> added = extrapolate_low_q(red.sq, red.fq, o.extrapolate, o.s0);
    if (!added.ok()) return added.error();
    red.extrapolated = *added;
  }

  if (o.rmin_iterate) {
    if (!red.number_density)
      return make_error(ErrorKind::kInvalidArgument,
                        "the low-r iteration needs the number density: give the density or the number density");
    Result<LowR> low = iterate_low_r(red.fq, *red.number_density, *o.rmin_iterate, o.window, o.stop,
                                     {red.extrapolated, o.extrapolate, o.s0});
    if (!low.ok()) return low.error();
    red.iterations = low->iterations;
    red.residual = low->residual;
    for (std::size_t i = 0; i < red.fq.x.size(); ++i) red.sq.y[i] = 1.0 + red.fq.y[i] / red.fq.x[i];
  }
  if (stop_asked(o.stop)) return cancelled();
  return Prepared{std::move(red), std::move(warnings), std::move(*grids), std::move(*model)};
}

// The stages after the transform, on its G(r).
Result<Reduction> finish(Prepared&& p, Result<Curve>&& gr, const ReductionOptions& o) {
  if (!gr.ok()) return gr.error();
  Reduction& red = p.red;
  std::vector<std::string>& warnings = p.warnings;
  const Grids& g = p.grids;
  const SampleModel* const model = &p.model;
  const bool physical = o.mode == Mode::kPhysical;
  red.gr = std::move(*gr);

  if (physical) {
    Result<Diagnostics> d = diagnose_reduction(red.sq, red.fq, *model, g, o);
    if (!d.ok()) return d.error();
    warnings.insert(warnings.end(), d->warnings.begin(), d->warnings.end());
    red.diagnostics = std::move(*d);
  }

  if (red.number_density) {
    RealSpace rs = real_space(red.gr, red.fq, *red.number_density, o.window, o.stop);
    if (rs.sigma_rr_integral.size() != red.gr.x.size()) return cancelled();
    red.g = std::move(rs.g);
    red.sigma_g = std::move(rs.sigma_g);
    red.rr = std::move(rs.rr);
    red.sigma_rr = std::move(rs.sigma_rr);
    red.rr_integral = std::move(rs.rr_integral);
    red.sigma_rr_integral = std::move(rs.sigma_rr_integral);
  }
  return Result<Reduction>(std::move(red), std::move(warnings));
}

Result<Reduction> run_stages(const Inputs& in, const ReductionOptions& o) {
  Result<Prepared> p = prepare(in, o);
  if (!p.ok()) return p.error();
  Result<Curve> gr = transform_fq(p->red.fq, p->grids.r, o.window, o.stop);
  return finish(std::move(*p), std::move(gr), o);
}

Error out_of_memory() {
  return make_error(ErrorKind::kOutOfMemory,
                    "out of memory: the reduction needs more memory than there is; give fewer points, a shorter "
                    "r grid or a smaller rmin-iterate");
}

}  // namespace

std::string_view low_q_extrapolation_name(LowQExtrapolation how) {
  switch (how) {
    case LowQExtrapolation::kStep: return "step";
    case LowQExtrapolation::kLinear: return "linear";
    case LowQExtrapolation::kPoly: return "poly";
    case LowQExtrapolation::kNone: break;
  }
  return "none";
}

std::optional<LowQExtrapolation> low_q_extrapolation_named(std::string_view name) {
  for (const LowQExtrapolation how :
       {LowQExtrapolation::kNone, LowQExtrapolation::kStep, LowQExtrapolation::kLinear, LowQExtrapolation::kPoly})
    if (name == low_q_extrapolation_name(how)) return how;
  return std::nullopt;
}

Result<Reduction> reduce(const Inputs& inputs, const ReductionOptions& options) {
  try {
    return run_stages(inputs, options);
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

std::vector<Result<Reduction>> reduce_together(std::span<const Inputs> inputs,
                                               std::span<const ReductionOptions> options) {
  if (inputs.size() != options.size())
    return std::vector<Result<Reduction>>(
        std::max(inputs.size(), options.size()),
        make_error(ErrorKind::kInvalidArgument, "reduce_together takes one set of options a pattern, not " +
                                                    std::to_string(options.size()) + " for " +
                                                    std::to_string(inputs.size()) + " patterns"));
  const std::size_t n = inputs.size();
  std::vector<Result<Reduction>> out;
  try {
    // Each result an error of memory until its reduction is through.
    out.assign(n, Result<Reduction>(out_of_memory()));
    std::vector<std::optional<Prepared>> prepared(n);
    std::vector<std::size_t> todo;
    for (std::size_t i = 0; i < n; ++i) {
      Result<Prepared> p = prepare(inputs[i], options[i]);
      if (!p.ok()) {
        out[i] = p.error();
        continue;
      }
      prepared[i] = std::move(*p);
      todo.push_back(i);
    }
    // Patterns with one r grid and one window are transformed together.
    const auto same = [&](std::size_t a, std::size_t b) {
      return options[a].window == options[b].window && same_values(prepared[a]->grids.r, prepared[b]->grids.r);
    };
    for (const std::vector<std::size_t>& group : groups_of(std::move(todo), same)) {
      const std::size_t first = group.front();
      const std::vector<double>& r = prepared[first]->grids.r;
      std::vector<const Curve*> fqs;
      for (std::size_t i : group) fqs.push_back(&prepared[i]->red.fq);
      std::vector<Result<Curve>> grs = transform_fq_many(fqs, r, options[first].window, options[first].stop);
      for (std::size_t g = 0; g < group.size(); ++g)
        out[group[g]] = finish(std::move(*prepared[group[g]]), std::move(grs[g]), options[group[g]]);
    }
  } catch (const std::bad_alloc&) {
    // The reductions through stay; the others ran out of memory.
    if (out.size() != n) out = std::vector<Result<Reduction>>(n, Result<Reduction>(out_of_memory()));
  }
  return out;
}

Result<Reduction> reduce(const Pattern& sample, const Pattern* background, double bg_scale,
                         const ReductionOptions& options) {
  ReductionOptions o = options;
  o.bg_scale = bg_scale;
  return reduce(Inputs{&sample, background}, o);
}

}  // namespace talvo::pdf
