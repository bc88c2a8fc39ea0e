"""talvo.read_xrdml against talvo-tools xrdml --scans all, on real files."""
import os
import shutil
import subprocess

import numpy as np
import pytest

import talvo
from conftest import XRDML, run_tools, tools_path

FILES = sorted(p.name for p in XRDML.glob("*.xrdml"))


def tools_scans(path, *options):
    """wavelength and, per scan: number, axis, fixed axes and the x, y, e columns."""
    wavelength, scans = None, []
    for line in run_tools("xrdml", path, "--scans", "all", *options).splitlines():
        words = line.split()
        if line.startswith("# wavelength"):
            wavelength = float(words[2])
        elif line.startswith("# scan "):
            fixed = dict(w.split("=") for w in words[6:])
            scans.append({"number": int(words[2]), "axis": words[4],
                          "fixed": {k: float(v) for k, v in fixed.items()}, "rows": []})
        elif not line.startswith("#"):
            scans[-1]["rows"].append([float(v) for v in words])
    return wavelength, scans


def assert_same(file, wavelength, scans):
    assert file.wavelength == wavelength
    assert len(file.scans) == len(scans)
    for got, want in zip(file.scans, scans):
        assert got.number == want["number"] and got.axis == want["axis"]
        assert got.fixed == want["fixed"] and list(got.fixed) == list(want["fixed"])
        table = np.array(want["rows"]).reshape(-1, 4)
        assert np.all(table[:, 0] == got.number)
        for name, column in (("x", 1), ("y", 2), ("e", 3)):
            values = getattr(got, name)
            assert values.dtype == np.float64 and values.shape == (len(table),)
            np.testing.assert_array_equal(values, table[:, column], err_msg=f"scan {got.number} {name}")


@pytest.mark.parametrize("name", FILES)
def test_read_xrdml_gives_the_rows_of_the_tools(name):
    assert_same(talvo.read_xrdml(str(XRDML / name)), *tools_scans(XRDML / name))


@pytest.mark.parametrize(
    "name,kwargs,options",
    [
        ("single_scan_counts.xrdml", {"cps": True}, ["--cps"]),
        ("schema10_attenuated.xrdml", {"cps": True}, ["--cps"]),
        ("polefigure_91_scans.xrdml", {"axis": "Psi"}, ["--axis", "Psi"]),
        ("rsm_401_scans_list_positions.xrdml", {"axis": "omega", "cps": True}, ["--axis", "omega", "--cps"]),
        ("schema21_gonio_counts.xrdml", {"axis": "Omega"}, ["--axis", "Omega"]),
    ],
)
def test_read_xrdml_options_as_the_tools(name, kwargs, options):
    assert_same(talvo.read_xrdml(XRDML / name, **kwargs), *tools_scans(XRDML / name, *options))


def test_read_xrdml_axes_and_attributes():
    f = talvo.read_xrdml(XRDML / "rsm_401_scans_list_positions.xrdml")
    assert f.k_alpha1 > 0 and f.path.endswith("rsm_401_scans_list_positions.xrdml")
    assert f.wavelength == pytest.approx((f.k_alpha1 + f.ratio * f.k_alpha2) / (1 + f.ratio), rel=1e-12)
    scan = f.scans[0]
    assert scan.number == 1 and f.scans[-1].number == 401
    # Every axis at every point: the one x is taken from, and the fixed ones constant.
    assert set(scan.axes) == {"2Theta", "Omega", "Phi", "Psi", "X", "Y", "Z"}
    np.testing.assert_array_equal(scan.axes["2Theta"], scan.x)
    for name, position in scan.fixed.items():
        assert np.all(scan.axes[name] == position)
    # An axis given as start and end is evenly spaced from the first point to the last.
    pole = talvo.read_xrdml(XRDML / "polefigure_91_scans.xrdml").scans[0]
    phi = pole.axes["Phi"]
    np.testing.assert_allclose(np.diff(phi), (phi[-1] - phi[0]) / (len(phi) - 1), rtol=1e-9)
    # Counts scaled by the attenuation (148 where the attenuator is in, 1
    # elsewhere): e is the counting error of the raw count, scaled as y is,
    # so e^2 / y is the factor.
    att = talvo.read_xrdml(XRDML / "schema10_attenuated.xrdml").scans[0]
    counted = att.y > 0
    factor = att.e[counted] ** 2 / att.y[counted]
    np.testing.assert_allclose(np.unique(np.round(factor, 9)), [1.0, 148.0])


def test_read_xrdml_errors(tmp_path):
    with pytest.raises(FileNotFoundError, match="nope.xrdml"):
        talvo.read_xrdml(tmp_path / "nope.xrdml")
    with pytest.raises(OSError):
        talvo.read_xrdml(tmp_path)
    text = tmp_path / "notes.xrdml"
    text.write_text("these are not the data\n")
    with pytest.raises(ValueError):
        talvo.read_xrdml(text)
    cut = tmp_path / "cut.xrdml"
    cut.write_bytes((XRDML / "single_scan_counts.xrdml").read_bytes()[:5000])
    with pytest.raises(ValueError):
        talvo.read_xrdml(cut)
    with pytest.raises(ValueError, match="Chi"):
        talvo.read_xrdml(XRDML / "schema21_gonio_counts.xrdml", axis="Chi")
    if os.geteuid() != 0:
        locked = tmp_path / "locked.xrdml"
        shutil.copy(XRDML / "single_scan_counts.xrdml", locked)
        locked.chmod(0)
        with pytest.raises(OSError):
            talvo.read_xrdml(locked)


def test_read_xrdml_warns_without_wavelength(tmp_path):
    text = (XRDML / "single_scan_intensities.xrdml").read_text()
    start, end = text.index("<usedWavelength"), text.index("</usedWavelength>") + len("</usedWavelength>")
    bare = tmp_path / "bare.xrdml"
    bare.write_text(text[:start] + text[end:])
    with pytest.warns(talvo.TalvoWarning, match="wavelength"):
        f = talvo.read_xrdml(bare)
    assert f.wavelength == 0.0
    np.testing.assert_array_equal(f.scans[0].y, talvo.read_xrdml(XRDML / "single_scan_intensities.xrdml").scans[0].y)


def test_read_xrdml_says_what_talvo_tools_says(tmp_path):
    """The same bad input, the same words: talvo-tools prints the library's
    message after its own name; Python raises it as it is."""
    junk = tmp_path / "junk.xrdml"
    junk.write_text("not xml at all\n")
    comma = tmp_path / "comma.xrdml"
    comma.write_text((XRDML / "schema15_2theta.xrdml").read_text().replace(">8 11 6 10 ", ">8 1,1 6 10 ", 1))
    cut = tmp_path / "cut.xrdml"
    cut.write_bytes((XRDML / "single_scan_counts.xrdml").read_bytes()[:5000])
    cases = [
        (tmp_path / "nope.xrdml", None, talvo.TalvoFileNotFoundError),
        (tmp_path, None, talvo.TalvoOSError),
        (junk, None, talvo.TalvoValueError),
        (comma, None, talvo.TalvoValueError),
        (cut, None, talvo.TalvoValueError),
        (XRDML / "polefigure_91_scans.xrdml", "Chi", talvo.TalvoValueError),
    ]
    for path, axis, error in cases:
        options = ["--axis", axis] if axis else []
        r = subprocess.run([tools_path(), "xrdml", str(path), "--scans", "all", *options],
                           capture_output=True, text=True)
        assert r.returncode == 1 and r.stdout == ""
        with pytest.raises(error) as caught:
            talvo.read_xrdml(path, axis=axis)
        assert r.stderr == f"talvo-tools xrdml: {caught.value}\n"


def test_read_xrdml_takes_a_name_that_is_not_utf8_in_any_form(tmp_path):
    odd = os.fsencode(tmp_path) + b"/inv\xff.xrdml"
    shutil.copy(XRDML / "single_scan_counts.xrdml", odd)
    want = talvo.read_xrdml(odd)

    class Named:
        def __fspath__(self):
            return os.fsdecode(odd)

    for given in (os.fsdecode(odd), Named()):
        got = talvo.read_xrdml(given)
        assert got.path == want.path == os.fsdecode(odd)
        assert got.wavelength == want.wavelength
        assert np.array_equal(got.scans[0].y, want.scans[0].y)
