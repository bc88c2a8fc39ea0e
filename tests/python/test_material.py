"""talvo.material and talvo.convert_density against talvo-tools and
published values."""
import copy
import json
import math
import os
import pickle
import subprocess
import warnings

import numpy as np
import pytest

import talvo
from talvo import _core
from conftest import ROOT, run_python, run_tools, tools_path

# formula, keyword arguments, the same as talvo-tools xs options
MATERIALS = [
    ("H2O", {"density": 1.0}, ["--density", "1"]),
    ("D2O", {"density": 1.107, "thickness": 0.2}, ["--density", "1.107", "--thickness", "0.2"]),
    ("Gd2O3", {"density": 7.41, "thickness": 0.1}, ["--density", "7.41", "--thickness", "0.1"]),
    ("Ni0.3Ti0.7", {"number_density": 0.09}, ["--number-density", "0.09"]),
    ("Ca(OH)2", {}, []),
    ("Li[6]F", {"wavelength": 4.0, "density": 2.6}, ["--wavelength", "4", "--density", "2.6"]),
    ("CuSO4+5H2O", {"density": 2.286}, ["--density", "2.286"]),
    ("V", {}, []),
    # A density in the formula, mixtures by volume, a wavelength beyond Gd's energy-dependent table (a warning).
    ("D2O@1n", {"thickness": 0.1}, ["--thickness", "0.1"]),
    ("50%vol H2O@1 // D2O@1n", {}, []),
    ("Gd2O3@7.41", {"wavelength": 10.0}, ["--wavelength", "10"]),
    ("Sm", {"density": 7.52, "wavelength": 0.5}, ["--density", "7.52", "--wavelength", "0.5"]),
]


@pytest.mark.parametrize("formula,kwargs,options", MATERIALS, ids=[m[0] for m in MATERIALS])
def test_material_is_the_json_of_xs(formula, kwargs, options):
    expected = json.loads(run_tools("xs", formula, "--json", *options))
    with warnings.catch_warnings(record=True) as issued:
        warnings.simplefilter("always")
        m = talvo.material(formula, **kwargs)
    assert m.to_dict() == expected
    # The same values with the same types (xs writes whole numbers as ints).
    assert json.dumps(m.to_dict()) == json.dumps(expected)
    # Its warnings are issued as TalvoWarning too.
    assert [str(w.message) for w in issued if w.category is talvo.TalvoWarning] == expected["warnings"]
    # Every key is an attribute holding the same value, typed parts too.
    for key, value in expected.items():
        attr = getattr(m, key)
        if key in ("per_atom", "per_formula", "units"):
            if key != "units":
                assert isinstance(attr, talvo.PerAtom if key == "per_atom" else talvo.PerFormula)
                assert attr.to_dict() == value
            assert {k: getattr(attr, k) for k in value} == value
        elif key in ("elements", "partials"):
            kind = talvo.Element if key == "elements" else talvo.Partial
            assert all(isinstance(r, kind) for r in attr)
            assert [r.to_dict() for r in attr] == value
            assert [{k: getattr(r, k) for k in v} for r, v in zip(attr, value)] == value
        else:
            assert attr == value


# Published per-atom values (Sears 1992), worked out by hand from the
# elements' lengths and cross-sections.
@pytest.mark.parametrize(
    "formula,kwargs,key,expected,rel",
    [
        ("H2O", {}, "b_coh", (2 * -3.7390 + 5.803) / 3, 1e-12),
        ("V", {}, "b_coh", -0.3824, 1e-12),
        ("V", {}, "sigma_inc", 5.1 - 4 * math.pi * 0.3824**2 / 100, 1e-12),
        ("Gd2O3", {}, "sigma_abs_2200", (2 * 49700 + 3 * 0.00019) / 5, 1e-12),
        # Gd at 1.798 A (E = 0.0253044 eV) follows Lynn & Seeger's curve: Im b between -13.65 fm (0.024 eV)
        # and -13.76 fm (0.026 eV), not the 2200 m/s list's -13.82 fm.
        ("Gd2O3", {}, "b_coh_im", 2 * (-13.65 - (0.0253044 - 0.024) / 0.002 * 0.11) / 5, 1e-5),
        ("V", {"wavelength": 3.596}, "sigma_abs", 2 * 5.08, 1e-12),
    ],
)
def test_material_per_atom_published(formula, kwargs, key, expected, rel):
    assert getattr(talvo.material(formula, **kwargs).per_atom, key) == pytest.approx(expected, rel=rel)


def test_material_per_volume():
    water = talvo.material("H2O", density=1.0, thickness=0.1)
    # 1 g/cm3 of water: 3 N_A / 18.015 atoms per cm3; SLD -0.56e-6 per A^2.
    assert water.number_density == pytest.approx(3 * 0.602214076 / 18.01534, rel=1e-4)
    assert water.sld == pytest.approx(-0.5599, abs=1e-4)
    assert water.transmission == pytest.approx(math.exp(-water.mu_total * 0.1), rel=1e-12)
    assert water.penetration_depth == pytest.approx(1 / water.mu_total, rel=1e-12)
    assert talvo.material("D2O", density=1.107).sld == pytest.approx(6.36, abs=0.02)
    bare = talvo.material("H2O")
    assert bare.sld is None and bare.density is None and bare.transmission is None


def test_material_is_a_typed_result():
    m = talvo.material("SiO2", density=2.2)
    assert isinstance(m, talvo.Material)
    assert list(m.to_dict())[:4] == ["formula", "atoms", "mass", "wavelength"]
    assert "sld" in dir(m) and "nonsense" not in dir(m)
    # The attributes are the class's own (what help() and IDEs show), read-only.
    assert isinstance(talvo.Material.sld, property) and "1e-6" in talvo.material.__doc__
    with pytest.raises(AttributeError):
        m.sld = 1.0
    assert [e.symbol for e in m.elements] == ["Si", "O"]
    assert [p.pair for p in m.partials] == ["Si-Si", "O-O", "Si-O"]
    assert isinstance(m.atoms, float) and isinstance(m.elements[0].count, float)
    assert m == talvo.material("SiO2", density=2.2) and m != talvo.material("SiO2")
    assert "formula='SiO2'" in repr(m)
    with pytest.raises(AttributeError, match="nonsense"):
        m.nonsense
    # Results travel to worker processes and copies stay apart.
    assert pickle.loads(pickle.dumps(m)) == m
    twin = copy.deepcopy(m)
    assert twin == m and twin.elements[0] is not m.elements[0]
    # to_dict gives plain values that json can write back.
    assert json.loads(json.dumps(m.to_dict())) == m.to_dict()


@pytest.mark.parametrize(
    "formula,kwargs,message",
    [
        ("Xx2O", {}, 'unknown element "Xx"'),
        ("Li[99]", {}, "99Li is not in"),
        ("", {}, "empty formula"),
        ("H2O", {"density": -1.0}, "density must be above 0"),
        ("H2O(", {}, 'formula "H2O("'),
        ("H2O", {"density": 1.0, "number_density": 0.1}, "density"),
    ],
)
def test_material_bad_input_raises_value_error(formula, kwargs, message):
    with pytest.raises(ValueError, match=message.replace("(", r"\(")):
        talvo.material(formula, **kwargs)


# The same bad input gives the same words from talvo-tools xs and from Python.
@pytest.mark.parametrize(
    "formula,options,kwargs",
    [
        ("Xx2O", [], {}),
        ("Li[99]", [], {}),
        ("H2O(", [], {}),
        ("Kr[84]", [], {}),
        ("50%vol H2O // D2O@1n", [], {}),
        ("H2O@1", ["--density", "2"], {"density": 2.0}),
        ("H2O", ["--density", "1", "--number-density", "0.1"], {"density": 1.0, "number_density": 0.1}),
    ],
)
def test_bad_input_gives_the_words_of_xs(formula, options, kwargs):
    r = subprocess.run([tools_path(), "xs", formula, *options], capture_output=True, text=True)
    assert r.returncode == 1 and r.stdout == ""
    prefix = "talvo-tools xs: "
    assert r.stderr.startswith(prefix), r.stderr
    with pytest.raises(ValueError) as raised:
        talvo.material(formula, **kwargs)
    assert str(raised.value) == r.stderr[len(prefix):].rstrip("\n")


def test_sweep_elements_and_partials_hold_each_wavelength():
    w = np.array([[0.5, 1.798], [3.0, 5.0]])
    s = talvo.material("Gd2O3", density=7.41, wavelength=w)
    assert all(isinstance(e, talvo.ElementSweep) for e in s.elements)
    assert all(isinstance(p, talvo.PartialSweep) for p in s.partials)
    assert [e.symbol for e in s.elements] == ["Gd", "O"] and [p.pair for p in s.partials] == ["Gd-Gd", "O-O", "Gd-O"]
    for idx in np.ndindex(w.shape):
        one = talvo.material("Gd2O3", density=7.41, wavelength=float(w[idx]))
        for e, single in zip(s.elements, one.elements):
            assert e.b_coh.shape == w.shape and e.b_coh.dtype == np.float64
            for key in ("b_coh", "b_coh_im", "sigma_coh", "sigma_scatt", "sigma_abs"):
                assert getattr(e, key)[idx] == getattr(single, key), (key, idx)
            for key in ("count", "fraction", "sigma_abs_2200", "sigma_inc", "source"):
                assert getattr(e, key) == getattr(single, key)
        for p, single in zip(s.partials, one.partials):
            assert p.weight[idx] == single.weight and p.faber_ziman[idx] == single.faber_ziman
    # Gd's length follows its resonance; O's is the same at every wavelength
    # and its absorption follows the 1/v law.
    gd, o = s.elements
    assert len(set(gd.b_coh_im.ravel())) == 4 and len(set(o.b_coh.ravel())) == 1
    assert o.sigma_abs[1, 1] / o.sigma_abs[0, 0] == pytest.approx(10.0, rel=1e-12)
    # A sweep restored from a pickle gives the same arrays.
    again = pickle.loads(pickle.dumps(s))
    assert np.array_equal(again.elements[0].sigma_abs, gd.sigma_abs)
    assert np.array_equal(again.partials[2].faber_ziman, s.partials[2].faber_ziman)
    assert "ElementSweep(symbol='Gd'" in repr(gd)


def test_units_are_a_typed_class():
    u = talvo.material("H2O").units
    assert isinstance(u, talvo.Units) and isinstance(talvo.Units.sld, property)
    assert u.to_dict() == json.loads(run_tools("xs", "H2O", "--json"))["units"]
    assert u.sigma == u["sigma_*"] == getattr(u, "sigma_*") == "barn"
    assert (u.sld, u.mu_total, u.transmission, u["density"]) == ("1e-6/A2", "1/cm", "", "g/cm3")
    with pytest.raises(AttributeError):
        u.sdl
    with pytest.raises(KeyError):
        u["nonsense"]
    assert pickle.loads(pickle.dumps(u)) == u


def test_material_table_read_once_and_found_without_g_f(tmp_path):
    env = dict(os.environ)
    env.pop("G_F", None)
    # Found without G_F from any folder; once read, the table stays even when
    # G_F then names a folder without it.
    code = (
        "import os, talvo\n"
        "path = talvo.data_file('neutron_sears92.tsv')\n"
        "assert os.path.isfile(path), path\n"
        "first = talvo.material('H2O').to_dict()\n"
        f"os.environ['G_F'] = {str(tmp_path) + '/'!r}\n"
        "assert talvo.data_file('neutron_sears92.tsv') == os.environ['G_F'] + 'neutron_sears92.tsv'\n"
        "assert talvo.material('H2O').to_dict() == first\n"
        "print(path)\n"
    )
    r = run_python(code, env, cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    # The source tree's data, or that of an install the build was made for.
    path = r.stdout.strip()
    assert os.path.isabs(path) and path.endswith("/data/neutron_sears92.tsv") and os.path.isfile(path)


def test_material_missing_table_raises_os_error_then_retries(tmp_path):
    code = (
        "import os, talvo\n"
        "try:\n"
        "    talvo.material('H2O')\n"
        "except OSError as e:\n"
        "    assert 'neutron_sears92.tsv' in str(e), e\n"
        "else:\n"
        "    raise SystemExit('no OSError')\n"
        f"os.environ['G_F'] = {str(ROOT / 'data') + '/'!r}\n"
        "print(talvo.material('H2O').atoms)\n"
    )
    r = run_python(code, {**os.environ, "G_F": str(tmp_path) + "/"})
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip() == "3.0"


@pytest.mark.parametrize(
    "density,symbols,amounts,expected",
    [
        # 3 atoms per 18.0153 g of water; 3 per 60.084 g of silica (hand values).
        (1.0, ["H", "O"], [2, 1], 3 * 0.6022140 / 18.0153),
        (2.2, ["Si", "O"], [1, 2], 3 * 2.2 * 0.6022140 / 60.084),
        (1.0, ["H", "O"], [4, 2], 3 * 0.6022140 / 18.0153),
        (-0.1002843439358346, ["H", "O"], [2, 1], 1.0),
    ],
)
def test_convert_density(density, symbols, amounts, expected):
    value = talvo.convert_density(density, symbols, amounts)
    assert value == pytest.approx(expected, rel=1e-4)
    # talvo-tools density prints the calculator's conversion, with its own
    # atomic mass unit and element table: the same to about 1e-5.
    args = [str(density)] + [str(v) for pair in zip(symbols, amounts) for v in pair]
    assert value == pytest.approx(float(run_tools("density", *args)), rel=2e-5)


def natural_elements():
    """The symbols of the neutron table's natural elements (A = 0), read from the shipped table."""
    header, symbols = None, []
    with open(ROOT / "data" / "neutron_sears92.tsv", encoding="utf-8") as table:
        for line in table:
            if line.startswith("#"):
                continue
            fields = line.rstrip("\n").split("\t")
            if header is None:
                header = fields
                continue
            row = dict(zip(header, fields))
            if row["A"] == "0" and row["symbol"] not in symbols:
                symbols.append(row["symbol"])
    return symbols


def test_convert_density_is_the_material_density_for_every_element():
    """One set of masses and one atomic mass unit: the conversion gives, to the
    last digit, the number density material() gives the element (both ways),
    or the same error."""
    symbols = natural_elements() + ["D"]
    assert len(symbols) > 80
    for symbol in symbols:
        try:
            m = talvo.material(symbol, density=2.5)
        except ValueError as e:
            with pytest.raises(ValueError) as refused:
                talvo.convert_density(2.5, [symbol], [1.0])
            assert str(refused.value) == str(e), symbol
            continue
        assert talvo.convert_density(2.5, [symbol], [1.0]) == m.number_density, symbol
        back = talvo.material(symbol, number_density=0.05)
        assert talvo.convert_density(-0.05, [symbol], [1.0]) == back.density, symbol
    # A compound: the material's mass per formula unit, whatever the amounts' scale.
    water = talvo.material("H2O", density=1.0)
    assert talvo.convert_density(1.0, ["H", "O"], [2, 1]) == water.number_density


@pytest.mark.parametrize(
    "density,symbols,amounts,message",
    [
        (0.0, ["H"], [1], "density=zero"),
        (1.0, ["Qq"], [1], '^unknown element symbol "Qq"$'),
        (1.0, ["H", "O"], [0, 0], "add to zero"),
        (1.0, ["H", "O"], [2], "one amount per symbol"),
        (math.nan, ["H"], [1], "finite"),
    ],
)
def test_convert_density_errors(density, symbols, amounts, message):
    with pytest.raises(ValueError, match=message):
        talvo.convert_density(density, symbols, amounts)


# Values that depend on the wavelength, and those that do not.
SWEPT = ["sld", "sld_im", "mu_abs", "mu_scatt", "mu_total", "penetration_depth", "transmission"]


@pytest.mark.parametrize(
    "formula,kwargs",
    [("Gd2O3", {"density": 7.41, "thickness": 0.01}), ("H2O", {"density": 1.0, "thickness": 0.1}),
     ("B4C", {"number_density": 0.13}), ("V", {})],
)
def test_material_over_wavelengths_is_each_wavelength(formula, kwargs):
    wavelengths = np.linspace(0.5, 10.0, 200)
    sweep = talvo.material(formula, wavelength=wavelengths, **kwargs)
    assert isinstance(sweep, talvo.MaterialSweep) and len(sweep) == 200
    assert sweep.formula == formula
    np.testing.assert_array_equal(sweep.wavelength, wavelengths)
    for i in (0, 57, 199):
        one = talvo.material(formula, wavelength=float(wavelengths[i]), **kwargs)
        assert sweep[i] == one
        assert sweep.per_atom.sigma_abs[i] == one.per_atom.sigma_abs
        for name in SWEPT:
            value = getattr(sweep, name)
            if getattr(one, name) is None:
                assert value is None or np.isnan(value[i])
            else:
                assert value[i] == getattr(one, name)
    # From the 2200 m/s list absorption grows as the wavelength (1/v): sigma_abs = sigma_abs_2200 lambda / 1.798;
    # so it does with the energy-dependent lengths for all but the resonant Gd.
    thermal = talvo.material(formula, wavelength=wavelengths, energy_dependent=False, **kwargs)
    np.testing.assert_allclose(thermal.per_atom.sigma_abs,
                               thermal.per_atom.sigma_abs_2200 * wavelengths / 1.798, rtol=1e-14)
    resonant = not np.array_equal(sweep.per_atom.sigma_abs, thermal.per_atom.sigma_abs)
    assert resonant == (formula == "Gd2O3")
    # The arrays are those of xs over the same wavelengths.
    options = [a for k, v in kwargs.items() for a in (f"--{k.replace('_', '-')}", str(v))]
    listed = ",".join(repr(float(w)) for w in wavelengths)
    expected = json.loads(run_tools("xs", formula, "--json", "--wavelength", listed, *options))
    for name in ("sigma_abs", "b_coh_im", "sigma_scatt"):
        np.testing.assert_array_equal(getattr(sweep.per_atom, name), expected["per_atom"][name])
    for name in ("sld", "sld_im", "sld_inc", "mu_total", "absorption_length", "transmission"):
        if expected[name] is None:
            assert getattr(sweep, name) is None
        else:
            np.testing.assert_array_equal(getattr(sweep, name), expected[name])
    assert sweep.warnings == expected["warnings"]
    assert sweep.atoms == sweep[0].atoms and sweep.density == sweep[0].density
    assert pickle.loads(pickle.dumps(sweep)) == sweep


def test_material_over_wavelengths_keeps_their_shape_and_checks_each():
    grid = np.array([[1.0, 2.0], [4.0, 8.0]])
    sweep = talvo.material("Gd2O3", density=7.41, thickness=0.001, wavelength=grid)
    assert sweep.transmission.shape == (2, 2) and sweep.per_atom.b_coh.shape == (2, 2)
    assert sweep.transmission[1, 1] == talvo.material("Gd2O3", density=7.41, thickness=0.001, wavelength=8.0).transmission
    assert np.all(np.diff(sweep.transmission.ravel()) < 0)
    # A list or an int array of wavelengths is a sweep too; a 0-d array is one material.
    assert isinstance(talvo.material("V", wavelength=[1, 2]), talvo.MaterialSweep)
    assert isinstance(talvo.material("V", wavelength=np.float64(2.0)), talvo.Material)
    assert talvo.material("V", wavelength=np.array(2.0)) == talvo.material("V", wavelength=2.0)
    with pytest.raises(ValueError, match="wavelength must be above 0"):
        talvo.material("V", wavelength=np.array([1.0, -1.0]))
    with pytest.raises(ValueError, match="empty"):
        talvo.material("V", wavelength=np.array([]))
    with pytest.raises(ValueError, match='unknown element "Xx"'):
        talvo.material("Xx", wavelength=np.array([1.0]))
    with pytest.raises(TypeError):
        talvo.material("V", wavelength=np.array(["1.0"]))
    # An int past the double range, as a float() of it would say, not "Unable to cast".
    with pytest.raises(OverflowError, match="wavelength: the int is too large for a float"):
        talvo.material("V", wavelength=10**400)


def test_one_table_of_fields_names_every_attribute_and_its_unit():
    """The library's field table is the one list of a material's values: the
    attributes of every result class, each attribute's docstring (its meaning
    and unit), the keys of to_dict(), the units and the stub's properties
    (test_package checks the stub against the classes) all follow it."""
    fields = _core._material_fields()
    by_scope = {}
    for name, unit, meaning, scope, per_wavelength, in_json in fields:
        by_scope.setdefault(scope, []).append((name, unit, meaning, per_wavelength, in_json))
    classes = {"per_atom": talvo.PerAtom, "per_formula": talvo.PerFormula, "element": talvo.Element,
               "partial": talvo.Partial}
    extra = {"element": {"symbol", "source"}, "partial": {"pair"}}
    for scope, cls in classes.items():
        listed = [f for f in by_scope[scope] if f[4]]
        public = {n for n in vars(cls) if not n.startswith("_") and isinstance(vars(cls)[n], property)}
        assert public == {f[0] for f in listed} | extra.get(scope, set()), scope
        for name, unit, meaning, _, _ in listed:
            doc = vars(cls)[name].__doc__
            assert meaning in doc and unit in doc, (scope, name, doc)
    material_attributes = {n for n in vars(talvo.Material) if isinstance(vars(talvo.Material)[n], property)}
    own = {f[0] for s in ("material", "per_volume") for f in by_scope[s]}
    assert own <= material_attributes
    assert material_attributes - own == {"formula", "per_atom", "per_formula", "elements", "partials", "notes",
                                         "warnings", "units"}
    # The sweep's element holds every element value, those changing with the wavelength as arrays.
    sweep = talvo.material("Gd2O3", density=7.41, wavelength=[1.0, 2.0])
    e = sweep.elements[0]
    for name, unit, meaning, per_wavelength, _ in by_scope["element"]:
        assert isinstance(getattr(e, name), np.ndarray) == per_wavelength, name
    # to_dict() is built from the structs in the table's order; units hold each name once.
    d = talvo.material("Gd2O3", density=7.41, thickness=0.1).to_dict()
    top = [f[0] for f in fields if f[3] in ("material", "per_volume")]
    assert [k for k in d if k in top] == top
    assert list(d["per_atom"]) == [f[0] for f in by_scope["per_atom"]]
    assert list(d["elements"][0]) == ["symbol"] + [f[0] for f in by_scope["element"] if f[4]] + ["source"]
    units = {("sigma_*" if n.startswith("sigma_") else n): u for n, u, *_ in fields}
    assert talvo.material("H2O").units.to_dict() == units
