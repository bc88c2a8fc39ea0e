"""talvo.neutron_corrections against talvo-tools ncorr: the same numbers from the same options, and the same refusals."""
import json
import pathlib
import pickle
import subprocess
import warnings

import numpy as np
import pytest
import talvo
from conftest import run_tools, tools_path

# The published LaB6 sample in its vanadium can (the B as 11B 5.94, 10B 0.06, the can from the sample's radius),
# whole sample lit.
LAB6 = dict(sample="LaB[11]5.94B[10]0.06", number_density=0.1, wavelength=1.7982, radius=2.95, height=56.8,
            container="V", container_number_density=0.0721, container_outer=3.15)


def tools_json(correction, **kw):
    args = ["ncorr", correction, "--json"]
    for k, v in kw.items():
        args += ["--" + k.replace("_", "-"), ",".join(map(str, v)) if isinstance(v, list) else str(v)]
    return json.loads(run_tools(*args))


@pytest.mark.parametrize("correction, options", [
    ("attenuation", dict(LAB6, twotheta=[10, 90, 170])),
    ("placzek", dict(sample="V", density=6.1, wavelength=0.7, twotheta="10:170:40", temperature=300)),
    ("multiple-scattering", dict(sample="V", density=6.1, wavelength=0.7, radius=3, height=40, twotheta=[20, 90],
                                 histories=20000)),
])
def test_the_same_numbers_as_talvo_tools(correction, options):
    got = talvo.neutron_corrections(correction, **options)
    want = tools_json(correction, **options)
    assert got.correction == correction
    assert list(got.columns) == want["columns"][1:]
    rows = np.array(want["rows"])
    np.testing.assert_array_equal(got.twotheta, rows[:, 0])
    for k, name in enumerate(want["columns"][1:], start=1):
        np.testing.assert_array_equal(got.columns[name], rows[:, k])
        if "sigma" in want:
            np.testing.assert_array_equal(got.sigma[name], np.array(want["sigma"])[:, k - 1])
    assert got.notes == want["notes"] and got.warnings == want["warnings"]
    assert [line.split(" = ")[0] for line in got.settings] == list(want["settings"])
    assert pickle.loads(pickle.dumps(got)) == got
    assert not got.twotheta.flags.writeable


def test_the_published_lab6_factors():
    # A_s,s and A_s,sc of the converged integral, a little above the published raster's (0.15-0.3 %).
    a = talvo.neutron_corrections("attenuation", **LAB6, twotheta=[10, 90, 170])
    np.testing.assert_allclose(a.columns["A_s,sc"], [0.1406871, 0.1903367, 0.2422601], rtol=5e-3)
    bare = talvo.neutron_corrections("attenuation", **{k: v for k, v in LAB6.items() if not k.startswith("container")},
                                     twotheta=np.array([10.0, 90.0, 170.0]))
    np.testing.assert_allclose(bare.columns["A_s,s"], [0.1466219, 0.1977505, 0.2517314], rtol=5e-3)


def test_refusals(tmp_path):
    with pytest.raises(ValueError, match="no correction is called \"absorption\""):
        talvo.neutron_corrections("absorption", sample="V", density=6.1, wavelength=0.7)
    with pytest.raises(TypeError, match="neutron_corrections\\(\\) got an unexpected keyword argument 'radious'"):
        talvo.neutron_corrections("attenuation", sample="V", density=6.1, wavelength=0.7, radious=3)
    with pytest.raises(ValueError, match="angles above 0"):
        talvo.neutron_corrections("placzek", sample="H2O", density=1, wavelength=0.7, twotheta=[0, 90])
    with pytest.raises(TypeError, match="twotheta"):
        talvo.neutron_corrections("placzek", sample="V", density=6.1, wavelength=0.7, twotheta=90)
    # A measured cross-section file given as a path.
    with pytest.raises(OSError):
        talvo.neutron_corrections("attenuation", sample="H2O", density=1, wavelength=0.7, radius=3,
                                  sigma_file=pathlib.Path(tmp_path / "none.txt"))


def _neutron_runs(folder):
    """A silica glass without structure (S = 1) and a vanadium rod, made from the corrections themselves, as
    the command line's test makes them: rows 2theta, counts, sigma with a monitor line."""
    import math
    tt = "5:125:1"
    common = {"radius": 3, "height": 40, "beam_height": 20, "wavelength": 0.7, "twotheta": tt}
    mc = {"histories": 20000, "seed": 1}
    sample, rod = {"sample": "SiO2", "number_density": 0.0662}, {"sample": "V", "number_density": 0.0722}
    col = lambda c, name: c.columns[name]
    a_s = talvo.neutron_corrections("attenuation", **sample, **common)
    d_s = talvo.neutron_corrections("multiple-scattering", **sample, **common, **mc)
    p_s = talvo.neutron_corrections("placzek", **sample, wavelength=0.7, twotheta=tt)
    a_v = talvo.neutron_corrections("attenuation", **rod, **common)
    d_v = talvo.neutron_corrections("multiple-scattering", **rod, **common, **mc)
    p_v = talvo.neutron_corrections("placzek", **rod, wavelength=0.7, twotheta=tt)
    first = lambda c: next(iter(c.columns.values()))
    self_s = (2.167 + 2 * 4.232) / 3 / (4 * math.pi)
    self_v = 5.10 / (4 * math.pi)
    lit = math.pi * 0.3 ** 2 * 2.0
    n_s, n_v = 0.0662 * lit, 0.0722 * lit
    flux = 1.0 / (n_s * self_s)

    def write(name, monitor, counts, extra=""):
        with open(folder / name, "w") as f:
            f.write("# monitor %r\n%s" % (monitor, extra))
            for t, c in zip(a_s.twotheta, counts):
                f.write("%r %r %r\n" % (float(t), float(c * monitor), float(np.sqrt(c * monitor))))
    bg = 0.05 * (1 + 0.5 * np.exp(-a_s.twotheta / 20))
    write("sample.dat", 1.0e6, flux * n_s * self_s * (1 + first(p_s)) * first(a_s) * (1 + first(d_s)) + bg,
          "# wavelength 0.7\n")
    write("bg.dat", 0.4e6, bg)
    write("v.dat", 0.8e6, flux * n_v * self_v * (1 + first(p_v)) * first(a_v) * (1 + first(d_v)) + 0.03,
          "# wavelength 0.7\n")
    write("vb.dat", 0.2e6, np.full(len(a_s.twotheta), 0.03))
    keywords = dict(number_density=0.0662, radius=3, height=40, beam_height=20, wavelength=0.7, vanadium_radius=3,
                    vanadium_height=40, vanadium_number_density=0.0722, vanadium_background=str(folder / "vb.dat"),
                    background=str(folder / "bg.dat"), vanadium=str(folder / "v.dat"), r=(0.0, 10.0, 0.02), **mc)
    options = ["--sample", "SiO2", "--number-density", "0.0662", "--radius", "3", "--height", "40", "--beam-height",
               "20", "--wavelength", "0.7", "--vanadium-radius", "3", "--vanadium-height", "40",
               "--vanadium-number-density", "0.0722", "--vanadium-background", "vb.dat", "--background", "bg.dat",
               "--vanadium", "v.dat", "--r", "0:10:0.02", "--histories", "20000", "--seed", "1"]
    return keywords, options


def test_pdf_reduces_neutron_runs_as_talvo_tools(tmp_path):
    keywords, options = _neutron_runs(tmp_path)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        p = talvo.pdf(tmp_path / "sample.dat", "SiO2", radiation="neutron", **keywords)
    assert isinstance(p, talvo.NeutronPdf)
    # No structure in, none out.
    assert np.max(np.abs(p.sq - 1)) < 2e-3
    assert abs(p.number_density - 0.0662) < 1e-15 and p.b_mean_sq > 0 and p.self_static > 0
    assert abs(p.diagnostics["high_q_mean"] - 1) < 2e-3
    # The same numbers as the command's files, which it writes from the same runs.
    subprocess.run([tools_path(), "pdf", "--radiation", "neutron", *options, "sample.dat", "--json"], cwd=tmp_path,
                   check=True, capture_output=True)
    for suffix, x, y, sigma in (("dcs", p.q, p.dcs, p.dcs_sigma), ("sq", p.sq_q, p.sq, p.sq_sigma),
                                ("fq", p.sq_q, p.fq, p.fq_sigma), ("gr", p.r, p.gr, p.gr_sigma)):
        table = np.loadtxt(tmp_path / f"sample.{suffix}")
        np.testing.assert_array_equal(np.column_stack([x, y, sigma]), table, err_msg=suffix)
    assert pickle.loads(pickle.dumps(p)) == p
    # A list shares the runs beside the samples' (and the factors, on one 2theta grid).
    both = talvo.pdf([tmp_path / "sample.dat", tmp_path / "sample.dat"], "SiO2", radiation="neutron", **keywords)
    assert len(both) == 2 and all(np.array_equal(b.gr, p.gr) for b in both)


def test_pdf_neutron_optimize_as_talvo_tools(tmp_path):
    keywords, options = _neutron_runs(tmp_path)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        p = talvo.pdf(tmp_path / "sample.dat", "SiO2", radiation="neutron", flat=0.01, optimize="flat:-0.05:0.05",
                      **keywords)
    assert set(p.fitted) == {"flat"} and p.fitted_sigma["flat"] > 0
    assert p.fit_cost["after"] <= p.fit_cost["before"] and p.fit_cost["rounds"] == 1
    # The settings rerun the fitted reduction, and the command fits the same value.
    assert "flat = %r" % p.fitted["flat"] in p.settings
    done = subprocess.run([tools_path(), "pdf", "--radiation", "neutron", *options, "--flat", "0.01", "--optimize",
                           "flat:-0.05:0.05", "sample.dat", "--json"], cwd=tmp_path, check=True, capture_output=True)
    line = json.loads(done.stdout)
    assert line["fitted"]["flat"]["value"] == p.fitted["flat"]
    assert line["fitted"]["flat"]["sigma"] == p.fitted_sigma["flat"]
    np.testing.assert_array_equal(np.loadtxt(tmp_path / "sample.gr")[:, 1], p.gr)
    # Without the fit, nothing is fitted.
    plain = talvo.pdf(tmp_path / "sample.dat", "SiO2", radiation="neutron", **keywords)
    assert plain.fitted == {} and plain.fit_cost == {}
    with pytest.raises(ValueError, match="takes a list of density, sample-scale, can-scale and flat"):
        talvo.pdf(tmp_path / "sample.dat", "SiO2", radiation="neutron", optimize="mu-r", **keywords)


def test_pdf_neutron_refusals(tmp_path):
    keywords, _ = _neutron_runs(tmp_path)
    sample = tmp_path / "sample.dat"
    with pytest.raises(ValueError, match="radiation must be 'xray' or 'neutron'"):
        talvo.pdf(sample, "SiO2", radiation="gamma")
    with pytest.raises(ValueError, match="needs vanadium"):
        talvo.pdf(sample, "SiO2", radiation="neutron", **{k: v for k, v in keywords.items() if k != "vanadium"})
    with pytest.raises(TypeError, match="composition"):
        talvo.pdf(sample, "SiO2", radiation="neutron", sample="SiO2", **keywords)
    with pytest.raises(TypeError, match="bg_scale"):
        talvo.pdf(sample, "SiO2", radiation="neutron", bg_scale=1, **keywords)
    with pytest.raises(OSError):
        talvo.pdf(tmp_path / "absent.dat", "SiO2", radiation="neutron", **keywords)
    # An X-ray keyword's reduction is the X-ray one's, radiation="xray" or not.
    with pytest.raises(TypeError, match="vanadium"):
        talvo.pdf(sample, "SiO2", radiation="xray", vanadium="v.dat")
