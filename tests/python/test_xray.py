"""talvo.form_factor and talvo.xray_average: shapes, values from the
published coefficients, and the numbers of talvo-tools xray-average."""
import math
import warnings

import numpy as np
import pytest

import talvo
from conftest import ROOT, rows, run_tools


def coefficients(table, symbol):
    """a, b and c of an element from the shipped coefficient file."""
    name = {"wk": "wk_neutral.foqdat", "it": "it_neutral.foqdat"}[table]
    for line in (ROOT / "data" / name).read_text().splitlines():
        fields = line.split()
        if fields and fields[0] == symbol:
            v = [float(x) for x in fields[2:]]
            return np.array(v[0:-1:2]), np.array(v[1:-1:2]), v[-1]
    raise KeyError(symbol)


def published_f(table, symbol, q):
    a, b, c = coefficients(table, symbol)
    s2 = (np.asarray(q, dtype=float) / (4 * math.pi)) ** 2
    return c + np.sum(a[:, None] * np.exp(-b[:, None] * s2.ravel()), axis=0).reshape(s2.shape)


@pytest.mark.parametrize("table", ["wk", "it"])
@pytest.mark.parametrize("symbol,z", [("H", 1), ("C", 6), ("O", 8), ("Si", 14), ("Fe", 26), ("W", 74), ("U", 92)])
def test_form_factor_matches_coefficients_and_z(table, symbol, z):
    q = np.linspace(0.0, 25.0, 101)
    f = talvo.form_factor(symbol, q, table=table)
    np.testing.assert_allclose(f, published_f(table, symbol, q), rtol=1e-13, atol=1e-13)
    # A neutral atom scatters forward with its Z electrons (to the fits' 0.1 %).
    assert f[0] == pytest.approx(z, rel=1e-3)
    assert np.all(np.diff(f) < 0)


def test_form_factor_shapes_and_types():
    q = np.array([[0.0, 1.0, 2.0], [3.0, 4.0, 5.0]])
    f = talvo.form_factor("Fe", q)
    assert f.shape == (2, 3) and f.dtype == np.float64
    np.testing.assert_array_equal(f.ravel(), talvo.form_factor("Fe", q.ravel()))
    # A scalar gives a float; lists, integers, float32 and strided views give the same values.
    scalar = talvo.form_factor("Fe", 2.0)
    assert type(scalar) is float and scalar == f[0, 2]
    np.testing.assert_array_equal(talvo.form_factor("Fe", [0, 1, 2]), f[0])
    np.testing.assert_array_equal(talvo.form_factor("Fe", np.arange(6).reshape(2, 3)), f)
    np.testing.assert_array_equal(talvo.form_factor("Fe", q.ravel()[::2]), f.ravel()[::2])
    np.testing.assert_array_equal(talvo.form_factor("Fe", np.asfortranarray(q)), f)
    q32 = np.array([0.5, 1.5], dtype=np.float32)
    np.testing.assert_array_equal(talvo.form_factor("Fe", q32), talvo.form_factor("Fe", q32.astype(float)))
    assert talvo.form_factor("Fe", []).shape == (0,)
    assert talvo.form_factor("fe", [1.0]) == talvo.form_factor("Fe", [1.0])
    assert talvo.form_factor("Fe", [1.0], table="IT") == talvo.form_factor("Fe", [1.0], table="it")


def test_results_own_their_buffer_without_copy():
    # The array wraps the library's vector: a capsule is its base, and it is writable.
    f = talvo.form_factor("Fe", np.linspace(0, 10, 1000))
    assert type(f.base).__name__ == "PyCapsule"
    assert f.flags.writeable and f.flags.c_contiguous
    f[0] = -1.0
    assert f[0] == -1.0


def test_form_factor_warns_beyond_the_fit():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        talvo.form_factor("Fe", [8 * math.pi], table="it")
        talvo.form_factor("Fe", [30.0], table="wk")
    with pytest.warns(talvo.TalvoWarning, match="Q = 30") as caught:
        f = talvo.form_factor("Fe", [1.0, 30.0], table="it")
    assert f.shape == (2,)
    # The warning points at the caller's line.
    assert caught[0].filename == __file__
    assert issubclass(talvo.TalvoWarning, UserWarning)


@pytest.mark.parametrize(
    "symbol,q,table,message",
    [
        ("Xx", [1.0], "wk", "Xx"),
        ("Fe", [-1.0], "wk", "-1"),
        ("Fe", [math.nan], "wk", "Q"),
        ("Fe", [1.0], "xx", 'table "xx"'),
    ],
)
def test_form_factor_bad_input(symbol, q, table, message):
    with pytest.raises(ValueError, match=message):
        talvo.form_factor(symbol, q, table=table)


@pytest.mark.parametrize(
    "formula,options,kwargs",
    [
        ("SiO2", ["--density", "2.2"], {"density": 2.2}),
        ("Ca(OH)2", ["--table", "it", "--number-density", "0.08"], {"table": "it", "number_density": 0.08}),
        ("D2O", [], {}),
    ],
)
def test_xray_average_is_that_of_the_tools(formula, options, kwargs):
    out = run_tools("xray-average", formula, "--q", "0:20:0.25", *options)
    table = np.array(rows(out))
    a = talvo.xray_average(formula, table[:, 0], **kwargs)
    np.testing.assert_array_equal(a.q, table[:, 0])
    np.testing.assert_array_equal(a.f2, table[:, 1])
    np.testing.assert_array_equal(a.f_mean_sq, table[:, 2])
    header = [line for line in out.splitlines() if line.startswith("# Q")][0].split()
    assert [f"w_{pair}" for pair in a.weights] == header[4:]
    for i, w in enumerate(a.weights.values()):
        np.testing.assert_array_equal(w, table[:, 3 + i])
    t0_lines = [line for line in out.splitlines() if line.startswith("# T0")]
    if t0_lines:
        assert a.t0 == float(t0_lines[0].split()[2])
    else:
        assert a.t0 is None


def test_xray_average_by_hand():
    q = np.array([0.0, 2.0, 5.0])
    a = talvo.xray_average("SiO2", q, density=2.2)
    f_si, f_o = talvo.form_factor("Si", q), talvo.form_factor("O", q)
    assert a.symbols == ["Si", "O"]
    np.testing.assert_allclose(a.fractions, [1 / 3, 2 / 3], rtol=1e-15)
    np.testing.assert_allclose(a.f2, (f_si**2 + 2 * f_o**2) / 3, rtol=1e-14)
    mean = (f_si + 2 * f_o) / 3
    np.testing.assert_allclose(a.f_mean_sq, mean**2, rtol=1e-14)
    np.testing.assert_allclose(a.weights["Si-O"], 2 * (1 / 3) * (2 / 3) * f_si * f_o / mean**2, rtol=1e-14)
    np.testing.assert_allclose(sum(a.weights.values()), 1.0, rtol=1e-14)
    # T0 = 4 pi <f(0)>^2 n, n of 2.2 g/cm3 silica.
    assert a.t0 == pytest.approx(4 * math.pi * mean[0] ** 2 * a.number_density, rel=1e-12)
    assert a.number_density == pytest.approx(3 * 2.2 * 0.6022140 / 60.084, rel=1e-4)
    two_d = talvo.xray_average("SiO2", q.reshape(3, 1))
    assert two_d.f2.shape == (3, 1) and two_d.weights["O-O"].shape == (3, 1)
    assert type(talvo.xray_average("SiO2", 2.0).f2) is float


@pytest.mark.parametrize(
    "formula,q,kwargs,message",
    [
        ("SiQ2", [1.0], {}, "SiQ2"),
        ("SiO2", [], {}, "empty"),
        ("SiO2", [-2.0], {}, "-2"),
        ("SiO2", [1.0], {"density": 1.0, "number_density": 0.1}, "not both"),
        ("SiO2", [1.0], {"density": -1.0}, "above 0"),
        ("SiO2", [1.0], {"table": "nist"}, "nist"),
    ],
)
def test_xray_average_bad_input(formula, q, kwargs, message):
    with pytest.raises(ValueError, match=message):
        talvo.xray_average(formula, q, **kwargs)


# The same bad input gives the same words from talvo-tools and from Python:
# the library's message whole, the command line only naming itself before it.
@pytest.mark.parametrize(
    "tools_args,call",
    [
        (["xray-average", "SiQq2", "--q", "0:1:1"], lambda: talvo.xray_average("SiQq2", [0.0, 1.0])),
        (["xray-average", "SiO2", "--q", "0:1:1", "--density", "-1"],
         lambda: talvo.xray_average("SiO2", [0.0, 1.0], density=-1.0)),
        (["xray-average", "Fe{5+}2O3", "--q", "0:1:1"], lambda: talvo.xray_average("Fe{5+}2O3", [0.0, 1.0])),
        (["xray-average", "SiO2", "--q", "0:1:1", "--energy", "500"],
         lambda: talvo.xray_average("SiO2", [0.0, 1.0], energy=500.0)),
        (["foq", "Fe5+", "--q", "0:1:1"], lambda: talvo.form_factor("Fe5+", [0.0, 1.0])),
        (["xray", "Xx2O", "--energy", "8"], lambda: talvo.xray_material("Xx2O", energy=8.0)),
    ],
)
def test_same_words_as_talvo_tools(tools_args, call):
    import subprocess
    from conftest import tools_path
    r = subprocess.run([tools_path(), *tools_args], capture_output=True, text=True)
    assert r.returncode == 1, r.stderr
    prefix = f"talvo-tools {tools_args[0]}: "
    assert r.stderr.startswith(prefix) and r.stderr.endswith("\n"), r.stderr
    with pytest.raises(talvo.TalvoError) as raised:
        call()
    assert str(raised.value) == r.stderr[len(prefix):-1]
