"""talvo.pdf: the same numbers as the files of talvo-tools pdf on measured
laboratory patterns, its summary, errors by kind and the plot."""
import json
import pickle
import subprocess
import warnings

import numpy as np
import pytest

import talvo
from conftest import ROOT, run_tools, tools_path

LAB = ROOT / "tests" / "data" / "lab_xy"

# input, composition, keyword arguments, the same as talvo-tools pdf options
CASES = [
    ("zro2_mo.xy", "ZrO2", {"format": "twotheta", "wavelength": 0.71303},
     ["--format", "twotheta", "--wavelength", "0.71303"]),
    ("CeO2_635um_accum_0.xy", "CeO2",
     {"format": "twotheta", "anode": "Mo", "density": 7.2, "packing": 0.5, "geometry": "capillary", "mu_r": 1.2,
      "window": "lorch", "r": (0.0, 20.0, 0.02)},
     ["--format", "twotheta", "--anode", "Mo", "--density", "7.2", "--packing", "0.5", "--geometry", "capillary",
      "--mu-r", "1.2", "--window", "lorch", "--r", "0:20:0.02"]),
    ("CeO2_635um_accum_0.xy", "CeO2",
     {"format": "twotheta", "wavelength": 0.7093, "number_density": 0.0756, "monochromator": "HOPG",
      "compton": "balyuzi", "breit_dirac": 2, "normalize": "highq", "qmax": 15.0, "rmin_iterate": 1.5},
     ["--format", "twotheta", "--wavelength", "0.7093", "--number-density", "0.0756", "--monochromator", "HOPG",
      "--compton", "balyuzi", "--breit-dirac", "2", "--normalize", "highq", "--qmax", "15", "--rmin-iterate",
      "1.5"]),
]


@pytest.mark.parametrize("name,composition,kwargs,options", CASES, ids=["adhoc", "physical", "physical-hopg"])
def test_pdf_gives_the_files_of_talvo_tools(tmp_path, name, composition, kwargs, options):
    prefix = tmp_path / "out"
    summary = json.loads(run_tools("pdf", LAB / name, "--composition", composition, "-o", prefix, "--json", *options))
    with warnings.catch_warnings(record=True) as issued:
        warnings.simplefilter("always")
        p = talvo.pdf(LAB / name, composition, **kwargs)
    assert isinstance(p, talvo.Pdf)
    for suffix, x, y, sigma in (("iq", p.q, p.iq, p.iq_sigma), ("sq", p.sq_q, p.sq, p.sq_sigma),
                                ("fq", p.sq_q, p.fq, p.fq_sigma), ("gr", p.r, p.gr, p.gr_sigma)):
        table = np.loadtxt(f"{prefix}.{suffix}")
        np.testing.assert_array_equal(x, table[:, 0])
        np.testing.assert_array_equal(y, table[:, 1])
        np.testing.assert_array_equal(sigma, table[:, 2])
    # g(r), R(r) and N(r) are written where the density is known, as the same numbers.
    if p.number_density is not None:
        np.testing.assert_array_equal(np.loadtxt(f"{prefix}.gofr"), np.column_stack([p.r, p.g, p.g_sigma]))
        np.testing.assert_array_equal(np.loadtxt(f"{prefix}.rdf"),
                                      np.column_stack([p.r, p.rr, p.rr_sigma, p.rr_integral, p.rr_integral_sigma]))
    for key in ("mode", "wavelength", "normalization_constant", "normalization_constant_sigma", "number_density", "mu", "mu_x", "absorption_min",
                "absorption_max", "compton_fraction_at_qmax", "qmin", "qmax", "qstep", "poly_degree", "iterations",
                "residual", "warnings"):
        assert getattr(p, key) == summary[key], key
    assert bool(p.compton_subtracted) == summary["compton_subtracted"]
    assert [str(w.message) for w in issued if w.category is talvo.TalvoWarning] == summary["warnings"]
    # g(r) = 1 + G(r) / (4 pi r rho0) where the density is known.
    if p.number_density is not None:
        inside = p.r > 0
        np.testing.assert_allclose(p.g[inside], 1 + p.gr[inside] / (4 * np.pi * p.r[inside] * p.number_density),
                                   rtol=1e-12)
    assert pickle.loads(pickle.dumps(p)) == p


@pytest.mark.parametrize(
    "kwargs,error,message",
    [
        ({"mode": "magic"}, ValueError, "mode must be physical or adhoc"),
        ({"window": "hann"}, ValueError, "window must be"),
        ({"geometry": "reflection", "mu_r": 1.0}, ValueError, "mu_r belongs"),
        ({"wavelength": 0.7, "anode": "Mo"}, ValueError, "not both"),
        ({"anode": "Qq"}, ValueError, "Qq"),
        ({"nonsense": 1}, TypeError, "nonsense"),
        ({"monochromator": "HOPG", "mono_beam": "sideways"}, ValueError, "mono_beam must be diffracted or incident"),
        ({"monochromator": "HOPG", "mono_beam": "incident", "ruland": 0.05}, ValueError, "diffracted beam"),
        ({"monochromator": "HOPG", "ruland": 0.05}, ValueError, "Ruland window .* is not available"),
        # Options that would be ignored, or contradict each other, are refused as the command refuses them.
        ({"density": None, "geometry": "capillary"}, ValueError, "geometry belongs to mode physical"),
        ({"rpoly": 1.0}, ValueError, "rpoly belongs to mode adhoc"),
        ({"mono_crystal": "perfect"}, ValueError, "mono_crystal belongs to monochromator"),
        ({"geometry": "capillary", "mu_r": 1.0, "thickness": 0.05}, ValueError, "not both"),
        ({"scan": 1}, ValueError, "scan belongs to XRDML input"),
        ({"bg_scale": 2.0}, ValueError, "background scale needs a background"),
        ({"monochromator": "HOPG", "polarization": 0.3}, ValueError, "polarisation fraction is for a polarised source"),
        ({"rmin_iterate": 1e5}, ValueError, "rmin-iterate must lie between 0 and the r grid's end"),
        ({"r": "0:10:0.1"}, TypeError, "r must be a sequence of three numbers"),
        ({"breit_dirac": 2.5}, TypeError, "breit_dirac must be a whole number"),
        # Values of the wrong type are named, not "Unable to cast Python instance to C++ type".
        ({"density": "5.68"}, TypeError, "density must be a number, not str"),
        ({"qmax": [20]}, TypeError, "qmax must be a number, not list"),
        ({"qmax": 10**400}, OverflowError, "qmax: the int is too large for a float"),
        ({"mode": 1}, TypeError, "mode must be a text"),
        ({"format": b"twotheta"}, TypeError, "format must be a text"),
        ({"scan": 10**30}, ValueError, "scan is too large"),
    ],
)
def test_pdf_bad_options(kwargs, error, message):
    base = {"format": "twotheta", "density": 5.68}
    if "anode" not in kwargs:
        base["wavelength"] = 0.71303
    base.update(kwargs)
    kwargs = {k: v for k, v in base.items() if v is not None}
    base = {}
    with pytest.raises(error, match=message):
        talvo.pdf(str(LAB / "zro2_mo.xy"), "ZrO2", **base, **kwargs)


def test_pdf_missing_file_and_bad_composition(tmp_path):
    with pytest.raises(FileNotFoundError):
        talvo.pdf(str(tmp_path / "none.xy"), "ZrO2", format="twotheta", wavelength=0.71303)
    with pytest.raises(ValueError, match="Xx"):
        talvo.pdf(str(LAB / "zro2_mo.xy"), "Xx2O", format="twotheta", wavelength=0.71303)


def test_pdf_plot_with_matplotlib_only_when_installed():
    p = talvo.pdf(str(LAB / "zro2_mo.xy"), "ZrO2", format="twotheta", wavelength=0.71303)
    try:
        import matplotlib
    except ImportError:
        with pytest.raises(ImportError):
            p.plot()
        return
    matplotlib.use("Agg")
    fig = p.plot()
    assert len(fig.axes) == 4
    np.testing.assert_array_equal(fig.axes[3].lines[0].get_ydata(), p.gr)


@pytest.mark.parametrize("name", ["none.xy", "."])
def test_unreadable_input_in_the_same_words_as_talvo_tools(tmp_path, name):
    # A missing file and a folder: what the file layer says, word for word, from both.
    path = str(tmp_path / name)
    args = ["pdf", path, "--composition", "ZrO2", "--format", "twotheta", "--wavelength", "0.71303"]
    r = subprocess.run([tools_path(), *args], capture_output=True, text=True)
    assert r.returncode == 1
    tools_words = r.stderr.strip().removeprefix("talvo-tools pdf: ")
    error = FileNotFoundError if name == "none.xy" else OSError
    with pytest.raises(error) as e:
        talvo.pdf(path, "ZrO2", format="twotheta", wavelength=0.71303)
    assert str(e.value) == tools_words
    assert tools_words.endswith("No such file or directory" if name == "none.xy" else "is a folder, not a regular file")
