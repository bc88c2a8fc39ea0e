"""talvo.pdf: the same numbers as the files of talvo-tools pdf on measured
laboratory patterns, its summary, errors by kind and the plot."""
import itertools
import json
import operator
import os
import pathlib
import pickle
import shutil
import subprocess
import warnings

import numpy as np
import pytest

import talvo
from conftest import ROOT, run_tools, tools_path

LAB = ROOT / "tests" / "data" / "lab_xy"

# input, composition, keyword arguments, the same as talvo-tools pdf options
CASES = [
    ("zro2_mo.xy", "ZrO2", {"format": "twotheta", "wavelength": 0.71073},
     ["--format", "twotheta", "--wavelength", "0.71073"]),
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
    # The summary: each value of the JSON line is Python's under the same name, the self-checks in
    # p.diagnostics, and Python has none the line lacks.
    fits = {"zscan", "fitted", "fit_cost_before", "fit_cost_after", "fit_reductions"}
    compared = 0
    for key, value in summary.items():
        if key in ("input", "files", "outliers") or key in fits:
            continue
        got = getattr(p, key) if hasattr(p, key) else p.diagnostics.get(key)
        assert got == value and isinstance(got, bool) == isinstance(value, bool), key
        compared += 1
    assert compared >= 19 + (6 if p.mode == "physical" else 0)
    assert set(p.diagnostics) <= set(summary)
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
        ({"monochromator": "HOPG", "ruland": 0}, ValueError, "ruland is the monochromator's band pass"),
        ({"geometry": "capillary", "capillary_diameter": 0.6, "beam_width": "wide"}, ValueError,
         'beam_width is not a number: "wide"'),
        ({"geometry": "capillary", "capillary_diameter": 0.6, "beam_width": ["wide"]}, TypeError,
         "beam_width must be a number"),
        ({"geometry": "capillary", "capillary_diameter": 0.6, "zscan": 3}, TypeError, ""),
        ({"optimize": ["mu-r"]}, TypeError, "optimize must be a text"),
        # Options that would be ignored, or contradict each other, are refused as the command refuses them.
        ({"density": None, "geometry": "capillary"}, ValueError, "geometry belongs to mode physical"),
        ({"rpoly": 1.0}, ValueError, "rpoly belongs to mode adhoc"),
        ({"mono_crystal": "perfect"}, ValueError, "mono_crystal belongs to monochromator"),
        ({"geometry": "capillary", "mu_r": 1.0, "thickness": 0.05}, ValueError, "not both"),
        ({"scan": 1}, ValueError, "scan belongs to XRDML input"),
        ({"bg_scale": 2.0}, ValueError, "bg_scale belongs to background"),
        ({"monochromator": "HOPG", "polarization": 0.3}, ValueError, "polarization is for a polarised source"),
        ({"rmin_iterate": 1e5}, ValueError, "rmin-iterate must lie between 0 and the r grid's end"),
        ({"r": "0:10:0.1"}, TypeError, "r must be a sequence of three numbers"),
        ({"breit_dirac": 2.5}, TypeError, "breit_dirac must be a whole number"),
        # Values of the wrong type are named, not "Unable to cast Python instance to C++ type".
        ({"density": [5.68]}, TypeError, "density must be a number, not list"),
        ({"density": True}, TypeError, "density must be a number, not bool"),
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
        base["wavelength"] = 0.71073
    base.update(kwargs)
    kwargs = {k: v for k, v in base.items() if v is not None}
    base = {}
    with pytest.raises(error, match=message):
        talvo.pdf(str(LAB / "zro2_mo.xy"), "ZrO2", **base, **kwargs)


def test_pdf_missing_file_and_bad_composition(tmp_path):
    with pytest.raises(FileNotFoundError):
        talvo.pdf(str(tmp_path / "none.xy"), "ZrO2", format="twotheta", wavelength=0.71073)
    with pytest.raises(ValueError, match="Xx"):
        talvo.pdf(str(LAB / "zro2_mo.xy"), "Xx2O", format="twotheta", wavelength=0.71073)


class _BytesPath:
    """An os.PathLike whose path is bytes, as a file manager's object may be."""

    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path


def test_any_path_names_the_file_a_name_that_is_not_utf8_too(tmp_path):
    odd = os.fsencode(tmp_path) + b"/inv\xff.xy"
    shutil.copy(LAB / "zro2_mo.xy", odd)
    options = {"format": "twotheta", "wavelength": 0.71073}
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        want = talvo.pdf(odd, "ZrO2", **options)
        for given in (os.fsdecode(odd), _BytesPath(odd), _BytesPath(os.fsdecode(odd))):
            got = talvo.pdf(given, "ZrO2", **options)
            assert got.input == os.fsdecode(odd), type(given)
            assert np.array_equal(got.gr, want.gr), type(given)
        # The background and a series take them alike.
        half = talvo.pdf(pathlib.Path(os.fsdecode(odd)), "ZrO2", background=os.fsdecode(odd), bg_scale=0.5,
                         **options)
        assert half.input == os.fsdecode(odd)
        series = talvo.iter_pdf([os.fsdecode(odd), _BytesPath(odd)], "ZrO2", **options)
        assert [np.array_equal(p.gr, want.gr) for p in series] == [True, True]
    with pytest.raises(TypeError):
        talvo.pdf(5, "ZrO2", **options)


def test_pdf_plot_with_matplotlib_only_when_installed(tmp_path):
    # A name with mathtext's "$", a control character and a byte that is not UTF-8.
    odd = os.fsencode(tmp_path) + b"/zro2 $x$\x01\xff.xy"
    shutil.copy(LAB / "zro2_mo.xy", odd)
    p = talvo.pdf(odd, "ZrO2", format="twotheta", wavelength=0.71073, density=5.68, geometry="capillary", mu_r=1.25)
    assert p.input == os.fsdecode(odd)
    try:
        import matplotlib
    except ImportError:
        with pytest.raises(ImportError):
            p.plot()
        return
    matplotlib.use("Agg")
    fig = p.plot()
    fig.canvas.draw()  # the text is laid out: a title that started mathtext would fail here
    assert fig._suptitle.get_text() == "zro2 \\$x\\$\\x01\\xff.xy \u2014 physical mode"
    assert len(fig.axes) == 4
    q = "Q (\u00c5\u207b\u00b9)"
    expected = [(q, "I (a.u.)", ["I(Q)", "self scattering + Compton"]), (q, "S(Q)", ["S(Q)", "\u00b1\u03c3"]),
                (q, "F(Q) (\u00c5\u207b\u00b9)", ["F(Q)", "\u00b1\u03c3"]),
                ("r (\u00c5)", "G(r) (\u00c5\u207b\u00b2)", ["G(r)", "\u22124\u03c0\u03c1\u2080r"])]
    for ax, (x_name, y_name, legend) in zip(fig.axes, expected):
        assert (ax.get_xlabel(), ax.get_ylabel()) == (x_name, y_name)
        assert [t.get_text() for t in ax.get_legend().get_texts()] == legend
        # Ticks at multiples of 1, 2 or 5 times a power of ten, labelled as a person writes them.
        for axis, (lo, hi) in ((ax.xaxis, ax.get_xlim()), (ax.yaxis, ax.get_ylim())):
            shown = [(t, label.get_text()) for t, label in zip(axis.get_ticklocs(), axis.get_ticklabels())
                     if lo <= t <= hi]
            assert len(shown) >= 3
            ticks = np.array([t for t, _ in shown])
            step = np.diff(ticks)[0]
            np.testing.assert_allclose(np.diff(ticks), step)
            assert round(step / 10 ** np.floor(np.log10(step)), 9) in (1, 2, 5)
            for t, label in shown:
                assert float(label.replace("\u2212", "-")) == pytest.approx(t, abs=1e-9 * step), label
                assert len(label) <= 6, label
    np.testing.assert_array_equal(fig.axes[3].lines[1].get_ydata(), p.gr)
    # -4 pi rho0 r stops at G's first peak: a local maximum of G between 1.5 and 4 Angstrom
    # (the Zr-O and Zr-Zr distances of zirconia are 2.1 to 3.6), never below G: G sets the panel's range.
    line = fig.axes[3].lines[2]
    end = len(line.get_xdata()) - 1
    assert 1.5 < p.r[end] < 4.0
    assert p.gr[end] >= max(p.gr[end - 1], p.gr[end + 1])
    assert line.get_ydata().min() >= np.nanmin(p.gr)
    import matplotlib.pyplot as plt

    plt.close(fig)


@pytest.mark.parametrize("name", ["none.xy", "."])
def test_unreadable_input_in_the_same_words_as_talvo_tools(tmp_path, name):
    # A missing file and a folder: what the file layer says, word for word, from both.
    path = str(tmp_path / name)
    args = ["pdf", path, "--composition", "ZrO2", "--format", "twotheta", "--wavelength", "0.71073"]
    r = subprocess.run([tools_path(), *args], capture_output=True, text=True)
    assert r.returncode == 1
    tools_words = r.stderr.strip().removeprefix("talvo-tools pdf: ")
    error = FileNotFoundError if name == "none.xy" else OSError
    with pytest.raises(error) as e:
        talvo.pdf(path, "ZrO2", format="twotheta", wavelength=0.71073)
    assert str(e.value) == tools_words
    assert tools_words.endswith("No such file or directory" if name == "none.xy" else "is a folder, not a regular file")


# The same mistakes refused by both in the same words, each naming the options its own way ({mu_r}: --mu-r
# on the command line, mu_r as a keyword), as a usage error (exit 2) or as one of the input (exit 1).
SAME_WORDS = [
    ({"mode": "both"}, 2, '{mode} must be physical or adhoc, not "both"'),
    ({"window": "hann"}, 2, '{window} must be none, lorch, step or quadratic, not "hann"'),
    ({"compton": "x"}, 2, '{compton} must be hubbell or balyuzi, not "x"'),
    ({"density": 5.68, "normalize": "x"}, 2, '{normalize} must be kmn or highq, not "x"'),
    ({"geometry": "sphere"}, 2, '{geometry} must be reflection, transmission or capillary, not "sphere"'),
    ({"format": "csv"}, 2, '{format} must be xrdml, twotheta, qa or qnm, not "csv"'),
    ({"density": 5.68, "number_density": 0.08}, 2, "give {density} or {number_density}, not both"),
    ({"anode": "Mo"}, 2, "give {wavelength} or {anode}, not both"),
    ({"density": 5.68, "geometry": "reflection", "mu_r": 1.0}, 2,
     "{mu_r} belongs to {geometry} capillary; a plate takes {mu_t}"),
    ({"density": 5.68, "geometry": "capillary", "mu_t": 1.0}, 2,
     "{mu_t} belongs to a plate; a capillary takes {mu_r}"),
    ({"density": 5.68, "geometry": "capillary", "mu_r": 1.0, "thickness": 0.05}, 2,
     "give {thickness} (mu from the composition) or {mu_r}/{mu_t}, not both"),
    ({"density": 5.68, "geometry": "capillary", "thickness": 0}, 1, "{thickness} must be above 0 cm"),
    ({"geometry": "capillary"}, 2,
     "{geometry} belongs to {mode} physical (give {density} for it); ad hoc mode fits the corrections away"),
    ({"density": 5.68, "rpoly": 1}, 2, "{rpoly} belongs to {mode} adhoc"),
    ({"density": 5.68, "mono_beam": "incident"}, 2, "{mono_beam} belongs to {monochromator} NAME"),
    ({"density": 5.68, "monochromator": 200}, 2,
     '{monochromator} must be none, HOPG, Si111, Ge111, LiF200 or its 2theta in degrees, not "200"'),
    ({"density": 5.68, "monochromator": "HOPG", "mono_crystal": "glass"}, 2,
     '{mono_crystal} must be mosaic or perfect, not "glass"'),
    ({"density": 5.68, "monochromator": "HOPG", "polarization": 0.3}, 2,
     "{polarization} is for a polarised source without a monochromator; a monochromator's source is taken as "
     "unpolarised"),
    ({"density": 5.68, "polarization": 2}, 1, "{polarization} must lie between 0 and 1"),
    ({"density": 5.68, "breit_dirac": 4}, 2, "{breit_dirac} must be 0 (none), 2 or 3"),
    ({"density": 5.68, "monochromator": "HOPG", "mono_beam": "incident", "ruland": 0.05}, 2,
     "{ruland} belongs to a monochromator in the diffracted beam ({monochromator} NAME)"),
    ({"density": 5.68, "monochromator": "HOPG", "ruland": 0}, 1,
     "{ruland} is the monochromator's band pass in Angstrom: it must be above 0"),
    ({"density": 5.68, "capillary_diameter": 0.6}, 2, "{capillary_diameter} belongs to {geometry} capillary"),
    ({"density": 5.68, "geometry": "capillary", "beam_width": 0.15}, 1,
     "{beam_width} needs the capillary's diameter: give {capillary_diameter} MM"),
    ({"density": 5.68, "geometry": "capillary", "capillary_diameter": 0.6, "beam_width": 0.15,
      "beam_profile": "flat"}, 2, '{beam_profile} must be tophat or gaussian, not "flat"'),
    ({"density": 5.68, "geometry": "capillary", "capillary_diameter": 0.6, "container": LAB / "zro2_mo.xy"}, 1,
     "{container} needs the container's {container_composition}, {container_density} and {container_wall}"),
    ({"density": 5.68, "geometry": "capillary", "capillary_diameter": 0.6, "container": LAB / "zro2_mo.xy",
      "container_composition": "SiO2", "container_density": 2.2, "container_wall": -0.01}, 1,
     "{container_wall} must be above 0 mm"),
    ({"density": 5.68, "container_scale": 0.5}, 2, "{container_scale} belongs to {container}"),
    ({"density": 5.68, "rmin_check": 0.4}, 1,
     "{rmin_check} must lie above 0.5 Angstrom (and at most 100), below the first interatomic distance"),
    ({"density": 5.68, "optimize": "speed"}, 2,
     "{optimize} takes a list of density, bg-scale, container-scale, mu-r, beam-width, ruland and flat (each NAME or "
     'NAME:LOW:HIGH), not "speed"'),
    ({"density": 5.68, "optimize": "bg-scale"}, 2, "{optimize} bg-scale needs {background}"),
    ({"bg_scale": 2}, 2, "{bg_scale} belongs to {background}"),
    ({"scan": 1}, 2, "{scan} belongs to XRDML input"),
    ({"density": 5.68, "extrapolate": "cubic"}, 2, '{extrapolate} must be none, step, linear or poly, not "cubic"'),
    ({"density": 5.68, "s0": 0.1}, 2,
     "{s0} is S(Q) at Q = 0 for the extrapolation below the data: give {extrapolate} step, linear or poly"),
    ({"density": 5.68, "wavelength": None, "anode": "Qq"}, 1, '{anode}: no anode "Qq": Cr, Fe, Co, Cu, Mo, Ag or W'),
]


class Spelled(dict):
    def __init__(self, spell):
        super().__init__()
        self.spell = spell

    def __missing__(self, key):
        return self.spell(key)


@pytest.mark.parametrize("kwargs,status,words", SAME_WORDS, ids=[w[:40] for _, _, w in SAME_WORDS])
def test_pdf_refuses_as_talvo_tools_in_the_same_words(tmp_path, kwargs, status, words):
    options = {"format": "twotheta", "wavelength": 0.71073, **kwargs}
    options = {k: v for k, v in options.items() if v is not None}
    args = [tools_path(), "pdf", str(LAB / "zro2_mo.xy"), "--composition", "ZrO2", "-o", str(tmp_path / "out")]
    for k, v in options.items():
        args += ["--" + k.replace("_", "-"), str(v)]
    r = subprocess.run(args, capture_output=True, text=True)
    assert r.returncode == status, r.stderr
    tools_words = r.stderr.splitlines()[0]
    # Wrong usage says where the help is, after the same words.
    help_hint = "; see `talvo-tools pdf --help`"
    assert tools_words.endswith(help_hint) == (status == 2), tools_words
    tools_words = tools_words.removesuffix(help_hint)
    assert tools_words == "talvo-tools pdf: " + words.format_map(Spelled(lambda k: "--" + k.replace("_", "-")))
    assert list(tmp_path.iterdir()) == []
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        with pytest.raises(talvo.TalvoValueError) as e:
            talvo.pdf(LAB / "zro2_mo.xy", "ZrO2", **options)
    assert str(e.value) == words.format_map(Spelled(lambda k: k))


REF = ROOT / "tests" / "data" / "pdf_reference" / "ni_kapton_synchrotron"


def test_a_list_of_paths_and_arrays_gives_a_list_of_the_same_reductions():
    options = {"format": "twotheta", "wavelength": 0.71073}
    one = talvo.pdf(LAB / "zro2_mo.xy", "ZrO2", **options)
    rows = np.loadtxt(LAB / "zro2_mo.xy")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        many = talvo.pdf([LAB / "zro2_mo.xy", str(LAB / "zro2_mo.xy"), rows], "ZrO2", **options)
    assert isinstance(many, list) and len(many) == 3
    assert many[0] == one and many[1] == one
    # An array is the file's rows: the same numbers (its warnings name it as an array, not the file).
    np.testing.assert_array_equal(many[2].gr, one.gr)
    np.testing.assert_array_equal(many[2].sq_sigma, one.sq_sigma)
    single = talvo.pdf(rows, "ZrO2", **options)
    np.testing.assert_array_equal(single.fq, one.fq)
    # With sigma as a third column.
    three = np.column_stack([rows, np.full(len(rows), 5.0)])
    np.testing.assert_array_equal(talvo.pdf(three, "ZrO2", **options).iq_sigma > 0, True)


@pytest.mark.parametrize("inputs,error,message", [
    (np.zeros((5, 4)), ValueError, r"the array must hold rows of x, intensity and optionally sigma"),
    (np.array([[1.0, 2.0], [1.0, 3.0], [2.0, 4.0]]), ValueError, "row 2 of the array: x = 1 does not increase"),
    ([np.array([[1.0, 2.0], [2.0, 3.0]])], ValueError, r"inputs\[0\]: 2 data rows; a pattern needs at least 3"),
    (np.array([["a", "b"]]), TypeError, "input"),
])
def test_bad_arrays_are_named(inputs, error, message):
    with pytest.raises(error, match=message):
        talvo.pdf(inputs, "ZrO2", format="twotheta", wavelength=0.71073)


def test_iter_pdf_reduces_one_at_a_time_and_goes_on_past_a_failure(tmp_path):
    broken = tmp_path / "broken.xy"
    broken.write_text("1 2\n")
    series = talvo.iter_pdf([LAB / "zro2_mo.xy", broken, LAB / "zro2_mo.xy"], "ZrO2", format="twotheta",
                            wavelength=0.71073)
    assert isinstance(series, talvo.PdfSeries) and iter(series) is series
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        first = next(series)
        with pytest.raises(ValueError, match="1 data rows"):
            next(series)
        third = next(series)
    assert first == third == talvo.pdf(LAB / "zro2_mo.xy", "ZrO2", format="twotheta", wavelength=0.71073)
    with pytest.raises(StopIteration):
        next(series)
    # Bad options are refused before any pattern; one path is not a series.
    with pytest.raises(ValueError, match="mode must be physical or adhoc"):
        talvo.iter_pdf([LAB / "zro2_mo.xy"], "ZrO2", mode="magic")
    with pytest.raises(TypeError, match="iter_pdf\\(\\) takes a sequence of patterns"):
        talvo.iter_pdf(str(LAB / "zro2_mo.xy"), "ZrO2")


def test_iter_pdf_pulls_its_inputs_one_at_a_time():
    # An endless iterable gives its first result at once; a generator is asked for one pattern per result.
    options = dict(format="twotheta", wavelength=0.71073)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        endless = talvo.iter_pdf(itertools.repeat(LAB / "zro2_mo.xy"), "ZrO2", **options)
        assert next(endless) == next(endless)
        assert operator.length_hint(endless, -1) == -1  # no length to hint
        pulled = []

        def patterns():
            for k in range(3):
                pulled.append(k)
                yield np.loadtxt(LAB / "zro2_mo.xy")

        series = talvo.iter_pdf(patterns(), "ZrO2", **options)
        assert pulled == []
        first = next(series)
        assert pulled == [0]
        assert first.input == "inputs[0]"
        assert len(list(series)) == 2 and pulled == [0, 1, 2]
        sized = talvo.iter_pdf([LAB / "zro2_mo.xy"] * 2, "ZrO2", **options)
        assert operator.length_hint(sized) == 2
        next(sized)
        assert operator.length_hint(sized) == 1


def test_the_reference_programs_files_read_as_talvo_tools_reads_them(tmp_path):
    # ni.iq: Q in 1/A from its #L line, though its header says Qnm of the original input; the background it
    # names was subtracted already, so one given here is subtracted again only with a warning that says so.
    summary = json.loads(run_tools("pdf", REF / "ni.iq", "--composition", "Ni", "--qmaxinst", "31.5", "--qmin", "0.1",
                                   "--qmax", "27", "-o", tmp_path / "ni", "--json"))
    p = talvo.pdf(REF / "ni.iq", "Ni", qmaxinst=31.5, qmin=0.1, qmax=27)
    np.testing.assert_array_equal(np.loadtxt(tmp_path / "ni.fq")[:, 1], p.fq)
    assert p.qmax == summary["qmax"] and p.q[0] == 0.11362
    with pytest.raises(ValueError, match="states its x as \"Q \\(Inverse Nanometres\\)\", which is qnm: format "
                                         "twotheta contradicts it"):
        talvo.pdf(REF / "ni.chi", "Ni", format="twotheta")
    with pytest.raises(ValueError, match="holds the reference program's G\\(r\\)"):
        talvo.pdf(REF / "ni.gr", "Ni")
    with warnings.catch_warnings(record=True) as issued:
        warnings.simplefilter("always")
        talvo.pdf(REF / "ni.iq", "Ni", background=REF / "ni.iq", bg_scale=0.0, qmaxinst=31.5, qmin=0.1, qmax=27)
    assert any("subtracted already: background is subtracted from it as asked" in str(w.message) for w in issued)
