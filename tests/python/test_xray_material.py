"""talvo.xray_material, dispersion, anode_energy, compton and the X-ray
form factor and averages at an energy: the numbers of talvo-tools."""
import json
import pickle
import subprocess

import numpy as np
import pytest

import talvo
from talvo import _core
from conftest import rows, run_tools, tools_path

# formula, keyword arguments, the same as talvo-tools xray options
MATERIALS = [
    ("Gd2O3", {"anode": "Cu", "density": 7.41, "thickness": 0.01}, ["--anode", "Cu", "--density", "7.41",
                                                                  "--thickness", "0.01"]),
    ("SiO2", {"energy": 17.4}, ["--energy", "17.4"]),
    ("H2O", {"wavelength": 0.7, "density": 1.0}, ["--wavelength", "0.7", "--density", "1"]),
    ("Fe{3+}2O{2-}3", {"anode": "MoKa2", "density": 5.24}, ["--anode", "MoKa2", "--density", "5.24"]),
    ("D2O", {"energy": 0.5}, ["--energy", "0.5"]),
]


@pytest.mark.parametrize("formula,kwargs,options", MATERIALS, ids=[m[0] for m in MATERIALS])
def test_xray_material_is_the_json_of_xray(formula, kwargs, options):
    expected = json.loads(run_tools("xray", formula, "--json", *options))
    m = talvo.xray_material(formula, **kwargs)
    assert isinstance(m, talvo.XrayMaterial)
    assert m.to_dict() == expected
    for key, value in expected.items():
        if key == "elements":
            assert all(isinstance(e, talvo.XrayElement) for e in m.elements)
            assert [{k: getattr(e, k) for k in v} for e, v in zip(m.elements, value)] == value
        else:
            assert getattr(m, key) == value
    assert pickle.loads(pickle.dumps(m)) == m


def test_the_classes_follow_the_library_table():
    """XrayMaterial's and XrayElement's attributes, their docstrings (meaning
    and unit), per_atom's keys and the plain rows of talvo-tools xray all
    follow the library's table of the values."""
    by_scope = {}
    for name, unit, meaning, scope in _core._xray_material_fields():
        by_scope.setdefault(scope, []).append((name, unit, meaning))
    for cls, scope, extra in ((talvo.XrayMaterial, "material", ["per_atom", "elements"]),
                              (talvo.XrayElement, "element", [])):
        attributes = [n for n, v in vars(cls).items() if isinstance(v, property)]
        assert attributes == [f[0] for f in by_scope[scope]] + extra, scope
        for name, unit, meaning in by_scope[scope]:
            doc = vars(cls)[name].__doc__
            assert meaning in doc and unit in doc, (scope, name, doc)
    m = talvo.xray_material("Gd2O3", anode="Cu", density=7.41, thickness=0.01)
    assert list(m.per_atom) == [f[0] for f in by_scope["per_atom"]]
    assert "1e-6/A2" in talvo.XrayMaterial.sld.__doc__ and "barn per atom" in talvo.XrayMaterial.per_atom.__doc__
    # The averages' attributes say what they are, in the unit of xray-average's T0 line.
    averages = {n: v.__doc__ for n, v in vars(talvo.XrayAverage).items() if isinstance(v, property)}
    assert all(averages.values()) and "electrons^2/A^3" in averages["t0"], averages
    # Every value of the material's own and per atom is a row of the plain
    # table with the table's unit, each element's f1 by its symbol.
    plain = {line.split()[0]: line.split()[2:] for line in run_tools(
        "xray", "Gd2O3", "--anode", "Cu", "--density", "7.41", "--thickness", "0.01").splitlines()[1:]
        if not line.startswith(("Gd ", "O "))}
    for name, unit, _ in by_scope["material"] + by_scope["per_atom"]:
        if name != "formula":
            assert name in plain and " ".join(plain[name]).endswith(unit), (name, plain.get(name))


@pytest.mark.parametrize(
    "call,error,message",
    [
        (lambda: talvo.xray_material("SiO2"), ValueError, "give one of energy"),
        (lambda: talvo.xray_material("SiO2", energy=8.0, anode="Cu"), ValueError, "give one of energy"),
        (lambda: talvo.xray_material("Xx2O", energy=8.0), ValueError, '"Xx"'),
        (lambda: talvo.xray_material("SiO2", energy=500.0), ValueError, "432.9451 keV"),
        (lambda: talvo.xray_material("SiO2(", energy=8.0), ValueError, "SiO2"),
        (lambda: talvo.dispersion("Qq", energy=8.0), ValueError, "Qq"),
        (lambda: talvo.anode_energy("Zz"), ValueError, "Zz"),
        (lambda: talvo.compton("SiO2", [-1.0]), ValueError, ""),
        (lambda: talvo.compton("SiO2", [1.0], model="nonsense"), ValueError, "hubbell"),
        (lambda: talvo.form_factor("Fe7+", [1.0], energy=8.0), ValueError, "Fe7+"),
    ],
)
def test_xray_errors_by_kind(call, error, message):
    with pytest.raises(error, match=message.replace("+", r"\+").replace("(", r"\(")):
        call()


def test_dispersion_and_anode_energy():
    # Cu K alpha 1, 8.04778 keV (X-ray Data Booklet, Table 1-2); K alpha 2 8.02783 keV.
    assert talvo.anode_energy("Cu") == pytest.approx(8.04778, abs=1e-5)
    assert talvo.anode_energy("CuKa2") == pytest.approx(8.02783, abs=1e-5)
    # Ka: the wavelengths weighted 2:1.
    hc = 12.398419843320026  # keV A (CODATA 2018)
    mean = (2 * hc / 8.04778 + hc / 8.02783) / 3
    assert talvo.anode_energy("Cu Ka") == pytest.approx(hc / mean, rel=1e-6)
    d = talvo.dispersion("Fe", anode="Cu")
    assert d.z == 26 and d.energy == talvo.anode_energy("Cu")
    assert d.z_star == pytest.approx(26 - (26 / 82.5) ** 2.37, rel=1e-14)
    assert d.f_prime == pytest.approx(d.f1 - d.z_star, rel=1e-14) and d.f_double_prime == d.f2
    # Below the K edge (7.112 keV) at Co K alpha the anomalous f' of iron is deep, f'' small.
    below = talvo.dispersion("fe", anode="Co")
    assert below.f_prime < d.f_prime and below.f2 < d.f2
    # Fe in Fe2O3 as xray --json gives it.
    fe = talvo.xray_material("Fe2O3", anode="Cu").elements[0]
    assert (fe.f1, fe.f2, fe.f_prime) == (d.f1, d.f2, d.f_prime)
    assert pickle.loads(pickle.dumps(d)) == d


def test_complex_form_factor_is_f0_plus_dispersion():
    q = np.linspace(0.0, 20.0, 41)
    for symbol, element in (("Fe", "Fe"), ("Fe3+", "Fe"), ("O2-", "O")):
        f = talvo.form_factor(symbol, q, energy=8.0)
        assert f.dtype == np.complex128 and f.shape == q.shape
        d = talvo.dispersion(element, energy=8.0)
        np.testing.assert_allclose(f.imag, d.f_double_prime, rtol=1e-15)
        if symbol == "Fe":
            np.testing.assert_allclose(f.real, talvo.form_factor("Fe", q) + d.f_prime, rtol=1e-14)
    assert talvo.form_factor("Fe", 1.0, wavelength=12.398419843320026 / 8.0) == pytest.approx(
        complex(talvo.form_factor("Fe", [1.0], energy=8.0)[0]), rel=1e-14)
    assert isinstance(talvo.form_factor("Fe", 1.0, anode="Cu"), complex)


@pytest.mark.parametrize(
    "kwargs,options",
    [({}, []), ({"wavelength": 0.7}, ["--wavelength", "0.7"]),
     ({"wavelength": 1.54, "breit_dirac": 2}, ["--wavelength", "1.54", "--breit-dirac", "2"]),
     ({"model": "balyuzi"}, ["--balyuzi"])],
)
def test_compton_is_that_of_talvo_tools(kwargs, options):
    table = np.array(rows(run_tools("compton", "SiO2", "--q", "0:8:0.25", *options)))
    c = talvo.compton("SiO2", table[:, 0], **kwargs)
    np.testing.assert_array_equal(c, table[:, 1])
    assert talvo.compton("SiO2", float(table[5, 0]), **kwargs) == table[5, 1]


def test_compton_breit_dirac_needs_a_wavelength():
    # As the command refuses --breit-dirac without --wavelength: there is no factor to apply.
    with pytest.raises(ValueError, match="breit_dirac needs the wavelength"):
        talvo.compton("SiO2", [0.0, 5.0], breit_dirac=2)
    r = subprocess.run([tools_path(), "compton", "SiO2", "--q", "0:5:5", "--breit-dirac", "2"], capture_output=True)
    assert r.returncode == 2


def test_xray_average_at_an_energy_is_that_of_talvo_tools():
    table = np.array(rows(run_tools("xray-average", "SiO2", "--q", "0:20:0.5", "--anode", "Mo")))
    a = talvo.xray_average("SiO2", table[:, 0], anode="Mo")
    np.testing.assert_allclose(a.f2, table[:, 1], rtol=1e-14)
    np.testing.assert_allclose(a.f_mean_sq, table[:, 2], rtol=1e-14)
    np.testing.assert_allclose([a.weights[p] for p in ("Si-Si", "O-O", "Si-O")], table[:, 3:].T, rtol=1e-14)
    # Without an energy f0 alone: f' and f'' change <f^2>.
    assert not np.array_equal(talvo.xray_average("SiO2", table[:, 0]).f2, a.f2)
