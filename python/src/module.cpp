// The compiled part of the talvo package, talvo._core: each library area
// binds its own entry points (neutron.cpp, xray.cpp, xrdml.cpp, numeric.cpp, model.cpp,
// conversions.cpp) and errors.cpp maps errors to exceptions.
#include "core.hpp"
#include "talvo/version.hpp"

namespace talvo::python {
namespace {

constexpr const char* kModuleDoc = R"(Neutron and X-ray scattering of materials, from their chemical formula.

The talvo module gives Python the numbers of the TALVO library and its
talvo-tools command line, computed by the same code:

Neutrons
    material(formula, density=None, number_density=None, wavelength=1.798,
             thickness=None)
        (an array of wavelengths gives every wavelength-dependent value
        as an array, in one call)
        Scattering lengths, cross-sections, scattering-length density,
        attenuation and partial weights of a material (what
        `talvo-tools xs --json` prints), from the full published table of
        Sears (1992) with complex lengths.
    convert_density(density, symbols, amounts)
        g/cm3 to atoms per cubic Angstrom and back.

X-rays
    form_factor(symbol, q, table="wk")
        The atomic form factor f(Q) of a neutral atom (Waasmaier-Kirfel or
        International Tables coefficients).
    xray_average(formula, q, table="wk", density=None, number_density=None)
        <f^2>, <f>^2, the Faber-Ziman weights and T0 of a formula.

Diffraction data
    read_xrdml(path, cps=False, axis=None)
        Every scan of a PANalytical XRDML file: x, intensity and error.

Total scattering
    modification(q, window="lorch", qmax=None, ...)   the window M(Q)
    filon_ft(x, f, k, sigma=None, ...)   the sine integral of f(x) sin(kx)
    sq2gr(q, s, r, rho0, sigma=None, window="lorch", qmax=None, ...)
        G(r) and g(r) from S(Q).
    peak(x, shape, center, fwhm, eta=0.5)   peak shapes of unit area

Structures and their G(r)
    Structure.from_cif(path, block=None), .from_stru(path), .from_xyz(path),
    read_structure(path)
        A crystal (cell, sites, symmetry operations) or a finite box.
    pdf_model(structure, r=(0, 20, 0.01), radiation='xray', qmax=..., ...)
        G(r) of a structure, as `talvo-tools model` computes it.
    refine(structure, data, refine='a,uiso,scale', r=(1.5, 20), ...)
        The structure refined against a measured G(r), with sigma.

Arrays and units
    Array arguments take numpy arrays or any sequence of numbers (a
    C-ordered float64 array is used in place, without a copy); results are
    float64 numpy arrays. Values at evaluation points (form_factor's q,
    filon_ft's k, sq2gr's r, xray_average's q, peak's x) keep the shape of
    the points, and a scalar point gives a float. Q and k are in inverse
    Angstrom, r in Angstrom, lengths in fm, cross-sections in barn, densities
    in g/cm3 or atoms per cubic Angstrom.

Results
    Results with several parts are typed objects (Material, PerAtom,
    Element, Partial, MaterialSweep, XrayAverage, XrdmlFile, XrdmlScan,
    Sq2gr, Structure, Site, Atoms, PdfModel, Refinement) whose parts are
    read-only attributes (m.sld); to_dict() gives them as plain dicts and
    lists; they compare with == and pickle.

Errors and warnings
    Every error the library reports is a TalvoError. Bad input raises
    TalvoValueError (a ValueError) with a message that names what is wrong
    (the unknown element, the line of a formula, the Q that is negative); a
    file that cannot be read raises TalvoOSError (an OSError;
    TalvoFileNotFoundError, a FileNotFoundError, when it is not there);
    arrays that are not numbers (strings, dates) raise TypeError. Where the library warns but still gives results (Q beyond the
    range a form-factor table was fitted to, an even number of points in a
    Filon integral) a TalvoWarning is issued through the warnings module.
    Nothing is printed.

Data
    The neutron table, neutron_sears92.tsv, is read once, on the first call
    of material(): from the folder in the environment variable G_F when it is
    set, else from the package's own data (talvo/data, found through
    importlib.resources). data_file(name) tells which file a name gives.
)";

}  // namespace
}  // namespace talvo::python

PYBIND11_MODULE(_core, m) {
  using namespace talvo::python;
  // Each docstring begins with its own signature line, which inspect.signature reads.
  py::options options;
  options.disable_function_signatures();
  m.doc() = kModuleDoc;
  m.attr("__version__") = talvo::kVersion;
  init_errors(m);
  init_conversions(m);
  init_neutron(m);
  init_xray(m);
  init_xray_material(m);
  init_pdf(m);
  init_xrdml(m);
  init_numeric(m);
  init_model(m);
  init_neutron_corrections(m);
  init_neutron_pdf(m);
}
