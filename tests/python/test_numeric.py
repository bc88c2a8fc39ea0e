"""talvo.filon_ft, modification, sq2gr and peak: closed-form integrals and
windows, and the numbers of talvo-tools."""
import math
import subprocess
import warnings

import numpy as np
import pytest

import talvo
from conftest import rows, run_tools, tools_path


def text_of(*columns):
    return "".join(" ".join(repr(float(v)) for v in row) + "\n" for row in zip(*columns))


# The integral from 0 to L of x sin(kx) dx; Filon's rule is exact for a linear f.
def x_sin_integral(k, length):
    return (np.sin(k * length) - k * length * np.cos(k * length)) / k**2


@pytest.mark.parametrize("points", [3, 11, 401])
def test_filon_ft_exact_for_linear_f(points):
    x = np.linspace(0.0, 5.0, points)
    k = np.array([0.1, 1.0, 7.5, 40.0, 400.0])
    exact = x_sin_integral(k, 5.0)
    double = talvo.filon_ft(x, x, k, single_precision=False)
    np.testing.assert_allclose(double, exact, rtol=1e-9, atol=1e-12)
    single = talvo.filon_ft(x, x, k)
    np.testing.assert_array_equal(single, double.astype(np.float32).astype(np.float64))


def test_filon_ft_as_the_tools():
    x = np.linspace(0.0, 10.0, 201)
    f = np.exp(-0.3 * x) * x
    sigma = 0.01 + 0.001 * x
    out = np.array(rows(run_tools("filon", "--k", "0.1:20:0.1", "--errors", stdin=text_of(x, f, sigma))))
    integral, error = talvo.filon_ft(x, f, out[:, 0], sigma=sigma)
    # Single-precision integrals: the tool prints the shortest text of each float.
    np.testing.assert_array_equal(integral, integral.astype(np.float32))
    np.testing.assert_array_equal(integral.astype(np.float32), out[:, 1].astype(np.float32))
    np.testing.assert_array_equal(error, out[:, 2])
    # Each sigma scales the error as the rule is linear in f.
    _, doubled = talvo.filon_ft(x, f, out[:, 0], sigma=2 * sigma)
    np.testing.assert_allclose(doubled, 2 * error, rtol=1e-14)


def test_filon_ft_shapes_and_even_points():
    x = np.linspace(0.0, 4.0, 9)
    k = np.array([[1.0, 2.0], [3.0, 4.0]])
    r = talvo.filon_ft(x, x**2, k)
    assert r.shape == (2, 2) and r.dtype == np.float64
    assert type(talvo.filon_ft(x, x**2, 2.0)) is float
    assert talvo.filon_ft(x, x**2, 2.0) == r[0, 1]
    # Eight points: Filon's rule over seven (exact for x^2), then the last
    # step as the straight line from (3, 9) to (3.5, 12.25) times sin(x).
    with pytest.warns(talvo.TalvoWarning, match="last step is integrated exactly"):
        even = talvo.filon_ft(x[:8], x[:8] ** 2, [1.0], single_precision=False)
    t = np.linspace(3.0, 3.5, 200001)
    line = np.trapz((9.0 + (t - 3.0) * 6.5) * np.sin(t), t)
    seven = talvo.filon_ft(x[:7], x[:7] ** 2, [1.0], single_precision=False)
    assert even == pytest.approx(seven + line, rel=1e-10)
    exact = -10.25 * np.cos(3.5) + 7.0 * np.sin(3.5) - 2.0  # the integral of x^2 sin(x) from 0 to 3.5
    assert even == pytest.approx(exact, abs=3e-3)


@pytest.mark.parametrize(
    "x,f,kwargs,message",
    [
        ([0.0, 1.0], [0.0, 1.0], {}, "at least 3 points"),
        ([0.0, 1.0, 2.0], [0.0, 1.0], {}, "different numbers"),
        ([0.0, 1.0, 2.5, 3.0, 4.0], [0.0] * 5, {}, r"x\(3\) = 2.5"),
        ([[0.0, 1.0, 2.0]], [[0.0, 1.0, 2.0]], {}, "one-dimensional"),
        ([0.0, 1.0, 2.0], [0.0, 1.0, 2.0], {"sigma": [1.0, 1.0]}, "sigma and f"),
    ],
    ids=["two points", "lengths", "unequal steps", "two-dimensional", "sigma length"],
)
def test_filon_ft_bad_input(x, f, kwargs, message):
    with pytest.raises(ValueError, match=message):
        talvo.filon_ft(x, f, [1.0], **kwargs)


def test_modification_windows():
    q = np.linspace(0.0, 30.0, 601)
    lorch = talvo.modification(q, "lorch", 30.0)
    arg = np.pi * q[1:] / 30.0
    np.testing.assert_allclose(lorch[1:], np.sin(arg) / arg, rtol=1e-12, atol=1e-15)
    assert lorch[0] == 1.0
    np.testing.assert_array_equal(talvo.modification(q, "Lorch"), lorch)  # Qmax: the last Q
    np.testing.assert_allclose(talvo.modification(q, "gaussian", 30.0, p1=0.1), np.exp(-0.01 * q**2), rtol=1e-12)
    step = talvo.modification(q, "step", 20.0)
    assert np.all(step[q < 19.9] == 1.0) and np.all(step[q > 20.1] == 0.0)
    np.testing.assert_array_equal(talvo.modification(q, "none"), np.ones_like(q))
    assert talvo.modification(q, "lorch", 30.0, histogram=True).shape == (600,)
    out = np.array(rows(run_tools("moq", "--option", "1", "--qmax", "30", stdin=text_of(q))))
    np.testing.assert_array_equal(lorch, out[:, 1])


@pytest.mark.parametrize(
    "q,window,kwargs,message",
    [
        ([0.0, 1.0, 2.0], "hann", {}, 'window "hann"'),
        ([0.0, 1.0, 2.0], "lorch", {"qmax": -1.0}, "Qmax"),
        ([0.0, 1.0, 2.0], "lorch", {"qmax": math.nan}, "Qmax"),
        ([0.0], "lorch", {"qmax": 1.0}, "too few Q values"),
        ([0.0, 1.0, 2.0], "sphere", {"qmax": 2.0, "p1": 7.0}, "sub-option"),
        ([0.0, -1e300, 2.0], "quadratic", {"qmax": 2.0}, r"Q\(2\) = -1e\+300"),
        ([0.0, math.inf, 2.0], "none", {}, r"Q\(2\) = inf"),
    ],
)
def test_modification_bad_input(q, window, kwargs, message):
    with pytest.raises(ValueError, match=message) as e:
        talvo.modification(q, window, **kwargs)
    assert "moq" not in str(e.value)


def tools_failure(*args, stdin=None):
    """talvo-tools' message of a failed command, which must exit 1."""
    r = subprocess.run([tools_path(), *map(str, args)], input=stdin, capture_output=True, text=True)
    assert r.returncode == 1 and r.stdout == "", f"talvo-tools {' '.join(map(str, args))}: {r.returncode} {r.stderr}"
    return r.stderr


# The same bad input gives the same words from talvo-tools and from Python:
# the library's message, which talvo-tools prints after "talvo-tools COMMAND: ".
@pytest.mark.parametrize(
    "tools_args,stdin,call",
    [
        (["moq", "--option", "3", "--qmax", "2"], "0\n-1e300\n2\n",
         lambda: talvo.modification([0.0, -1e300, 2.0], "quadratic", 2.0)),
        (["moq", "--option", "1", "--qmax", "50"], "0\n1\n2\n",
         lambda: talvo.modification([0.0, 1.0, 2.0], "lorch", 50.0)),
        (["moq", "--option", "4", "--qmax", "2", "--p1", "1e200"], "0\n1\n2\n",
         lambda: talvo.modification([0.0, 1.0, 2.0], "gaussian", 2.0, p1=1e200)),
        (["moq", "--option", "5", "--qmax", "2", "--p1", "0.4"], "0\n1\n2\n",
         lambda: talvo.modification([0.0, 1.0, 2.0], "sphere", 2.0, p1=0.4)),
        (["filon", "--k", "1:2:1"], "0 1\n1 1\n2.5 1\n",
         lambda: talvo.filon_ft([0.0, 1.0, 2.5], [1.0, 1.0, 1.0], [1.0, 2.0])),
        (["sq2gr", "-", "--rho0", "0.1", "--r", "1:2:1"], "0 1\n0.1 1.1\n0.1 1.2\n0.3 1.1\n0.4 1\n",
         lambda: talvo.sq2gr([0.0, 0.1, 0.1, 0.3, 0.4], [1.0, 1.1, 1.2, 1.1, 1.0], [1.0, 2.0], 0.1)),
        (["sq2gr", "-", "--rho0", "0.1", "--r", "1:2:1", "--window", "gaussian"], "0 1\n1 1.1\n2 1\n",
         lambda: talvo.sq2gr([0.0, 1.0, 2.0], [1.0, 1.1, 1.0], [1.0, 2.0], 0.1, window="gaussian")),
        (["peak", "gaussian", "--center", "0", "--fwhm", "0", "--x", "0:1:1"], None,
         lambda: talvo.peak([0.0, 1.0], "gaussian", 0.0, 0.0)),
    ],
    ids=["moq negative Q", "moq Qmax", "moq gaussian p1", "moq sphere p1", "filon steps", "sq2gr repeated Q",
         "sq2gr window", "peak width"],
)
def test_same_words_as_the_tools(tools_args, stdin, call):
    with pytest.raises(talvo.TalvoValueError) as e:
        call()
    assert tools_failure(*tools_args, stdin=stdin) == f"talvo-tools {tools_args[0]}: {e.value}\n"


# S(Q) - 1 = exp(-a Q^2) has G(r) = (2/pi) sqrt(pi) r / (4 a^1.5) exp(-r^2 / 4a).
def gaussian_g(r, a):
    return 2 / np.pi * np.sqrt(np.pi) * r / (4 * a**1.5) * np.exp(-(r**2) / (4 * a))


def test_sq2gr_closed_form():
    a, rho0 = 0.05, 0.1
    q = np.linspace(0.0, 30.0, 3001)
    r = np.linspace(0.05, 3.0, 60)
    out = talvo.sq2gr(q, 1.0 + np.exp(-a * q**2), r, rho0, window="none")
    np.testing.assert_allclose(out.G, gaussian_g(r, a), rtol=1e-7, atol=1e-9)
    np.testing.assert_allclose(out.g, 1.0 + out.G / (4 * np.pi * r * rho0), rtol=1e-14)
    np.testing.assert_array_equal(out.sigma_G, np.zeros_like(r))
    assert out.G.shape == r.shape and out.G.dtype == np.float64


def test_sq2gr_as_the_tools(tmp_path):
    q = np.linspace(0.0, 20.0, 401)
    s = 1.0 + 0.5 * np.sin(2.5 * q) / np.maximum(q, 1e-12) * np.exp(-0.01 * q**2)
    sigma = 0.01 + 0.002 * q
    data = tmp_path / "sq.txt"
    data.write_text(text_of(q, s, sigma))
    for window, options in (("lorch", []), ("gaussian", ["--window", "gaussian", "--p1", "0.05"])):
        out = np.array(rows(run_tools("sq2gr", data, "--rho0", "0.07", "--r", "0.05:10:0.05", *options)))
        kwargs = {"p1": 0.05} if window == "gaussian" else {}
        got = talvo.sq2gr(q, s, out[:, 0], 0.07, sigma=sigma, window=window, **kwargs)
        np.testing.assert_array_equal(got.G, out[:, 1])
        np.testing.assert_array_equal(got.g, out[:, 2])
        np.testing.assert_array_equal(got.sigma_G, out[:, 3])
    out = np.array(rows(run_tools("sq2gr", data, "--rho0", "0.07", "--r", "1:2:1", "--qmax", "15")))
    np.testing.assert_array_equal(talvo.sq2gr(q, s, [1.0, 2.0], 0.07, qmax=15.0).G, out[:, 1])


def test_sq2gr_shapes_and_even_points():
    q = np.linspace(0.0, 10.0, 101)
    s = 1.0 + np.exp(-q)
    assert type(talvo.sq2gr(q, s, 1.5, 0.1).G) is float
    assert talvo.sq2gr(q, s, np.ones((2, 3)), 0.1).g.shape == (2, 3)
    # An even count: the odd one's G and the last step, the straight line through Q (S - 1) times sin(Q r).
    with pytest.warns(talvo.TalvoWarning, match="last step is integrated exactly"):
        even = talvo.sq2gr(q[:100], s[:100], [1.5], 0.1, window="none")
    odd = talvo.sq2gr(q[:99], s[:99], [1.5], 0.1, window="none")
    t = np.linspace(q[98], q[99], 20001)
    f = np.interp(t, q[98:100], q[98:100] * (s[98:100] - 1.0))
    step = 2.0 / np.pi * np.trapz(f * np.sin(1.5 * t), t)
    assert even.G[0] == pytest.approx(odd.G[0] + step, rel=1e-9, abs=1e-14)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        talvo.sq2gr(q, s, [1.5], 0.1)


@pytest.mark.parametrize(
    "q,s,r,rho0,kwargs,message",
    [
        ([0.0, 1.0, 2.0], [1.0, 1.0], [1.0], 0.1, {}, r"\(3 and 2\)"),
        ([0.0, 1.0], [1.0, 1.0], [1.0], 0.1, {}, "at least 3"),
        ([-1.0, 0.0, 1.0], [1.0] * 3, [1.0], 0.1, {}, "negative"),
        ([0.0, 1.0, 1.0], [1.0] * 3, [1.0], 0.1, {}, "must increase"),
        ([0.0, 1.0, 2.0], [1.0] * 3, [0.0], 0.1, {}, "r must be positive"),
        ([0.0, 1.0, 2.0], [1.0] * 3, [1.0], 0.0, {}, "rho0"),
        ([0.0, 1.0, 2.0], [1.0] * 3, [1.0], 0.1, {"window": "parzen"}, "parzen"),
        ([0.0, 1.0, 2.0], [1.0] * 3, [1.0], 0.1, {"qmax": -2.0}, "Qmax"),
        ([0.0, 1.0, 2.0], [1.0] * 3, [1.0], 0.1, {"sigma": [0.1]}, "sigma"),
    ],
    ids=["lengths", "two points", "negative Q", "repeated Q", "r zero", "rho0 zero", "window", "qmax", "sigma"],
)
def test_sq2gr_bad_input(q, s, r, rho0, kwargs, message):
    with pytest.raises(ValueError, match=message):
        talvo.sq2gr(q, s, r, rho0, **kwargs)


@pytest.mark.parametrize("shape,kwargs", [("gaussian", {}), ("lorentzian", {}), ("pseudo-voigt", {"eta": 0.3})])
def test_peak_unit_area_and_width(shape, kwargs):
    x = np.linspace(-200.0, 204.0, 404001)
    y = talvo.peak(x, shape, 2.0, 0.5, **kwargs)
    dx = x[1] - x[0]
    # The Lorentzian's tails beyond +-200 hold 2 W / (2 pi 200) of its area.
    tails = {"gaussian": 0.0, "lorentzian": 0.5 / (np.pi * 201), "pseudo-voigt": 0.3 * 0.5 / (np.pi * 201)}[shape]
    assert np.sum(y) * dx == pytest.approx(1.0 - tails, rel=2e-4)
    top = talvo.peak(2.0, shape, 2.0, 0.5, **kwargs)
    assert talvo.peak(2.25, shape, 2.0, 0.5, **kwargs) == pytest.approx(top / 2, rel=1e-12)
    out = np.array(rows(run_tools("peak", shape, "--center", 2, "--fwhm", 0.5, "--x", "0:4:0.5",
                                  *(["--eta", "0.3"] if kwargs else []))))
    np.testing.assert_array_equal(talvo.peak(out[:, 0], shape, 2.0, 0.5, **kwargs), out[:, 1])


@pytest.mark.parametrize(
    "shape,fwhm,eta,center,message",
    [("voigt", 1.0, 0.5, 0.0, 'shape "voigt"'), ("gaussian", 0.0, 0.5, 0.0, "width"),
     ("pseudo-voigt", 1.0, 1.5, 0.0, "eta"), ("gaussian", 1.0, 0.5, math.inf, "centre")],
)
def test_peak_bad_input(shape, fwhm, eta, center, message):
    with pytest.raises(ValueError, match=message):
        talvo.peak([0.0], shape, center, fwhm, eta=eta)
