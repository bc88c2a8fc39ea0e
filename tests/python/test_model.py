"""talvo.Structure, talvo.pdf_model and talvo.refine: the structures the
files state, the same G(r) as talvo-tools model, PDFgui's nickel refinement
with its sigma, and the faults a user meets."""
import json
import math
import os
import pathlib
import pickle

import numpy as np
import pytest

import talvo
from conftest import ROOT, rows, run_tools

MODEL = ROOT / "tests" / "data" / "pdf_model"


# --- structures ----------------------------------------------------------------

@pytest.mark.parametrize("read,name,cell,sites,atoms", [
    (lambda: talvo.Structure.from_cif(MODEL / "Ni.cif"), "9008476", (3.52387,) * 3 + (90.0,) * 3, 1, 4),
    (lambda: talvo.Structure.from_stru(MODEL / "Ni.stru"), "structure Ni  FCC", (3.52,) * 3 + (90.0,) * 3, 4, 4),
    (lambda: talvo.Structure.from_cif(MODEL / "TiO2_rutile-fit.cif"), "3D", (4.60586, 4.60586, 2.9544, 90.0, 90.0, 90.0),
     2, 6),
    (lambda: talvo.read_structure(str(MODEL / "CdSe_cadmoselite.cif")), "9008863", (4.30, 4.30, 7.02, 90.0, 90.0, 120.0),
     2, 4),
])
def test_structures_are_read_as_their_files_state_them(read, name, cell, sites, atoms):
    s = read()
    assert s.name == name and s.periodic
    assert s.cell == pytest.approx(cell, abs=1e-12)
    a, b, c, alpha, beta, gamma = (math.radians(v) if k > 2 else v for k, v in enumerate(s.cell))
    # The cell vectors are the lattice's columns: their lengths and angles are the cell's.
    lengths = np.linalg.norm(s.lattice, axis=0)
    np.testing.assert_allclose(lengths, [a, b, c], rtol=1e-12)
    cosines = [s.lattice[:, 1] @ s.lattice[:, 2] / (b * c), s.lattice[:, 0] @ s.lattice[:, 2] / (a * c),
               s.lattice[:, 0] @ s.lattice[:, 1] / (a * b)]
    np.testing.assert_allclose(cosines, np.cos([alpha, beta, gamma]), atol=1e-12)
    assert s.volume == pytest.approx(abs(np.linalg.det(s.lattice)), rel=1e-12)
    assert len(s.sites) == sites and len(s.atoms().xyz) == atoms
    assert np.all((s.atoms().xyz >= 0) & (s.atoms().xyz < 1))


def test_rutiles_anisotropic_u_is_the_cifs():
    s = talvo.Structure.from_cif(MODEL / "TiO2_rutile-fit.cif")
    ti, o = s.sites
    assert (ti.label, ti.element, ti.z, o.label, o.species) == ("Ti1", "Ti", 22, "O1", "O")
    np.testing.assert_allclose(o.xyz, [0.3051, 0.3051, 0.0])
    assert o.anisotropic and o.occupancy == 1.0
    np.testing.assert_allclose(np.diag(o.u_cif), [0.021733, 0.021733, 0.007707], atol=1e-15)
    # A tetragonal cell: the CIF's frame is the cartesian one; Uiso the trace's third.
    np.testing.assert_allclose(o.u, o.u_cif, atol=1e-15)
    assert o.uiso == pytest.approx((2 * 0.021733 + 0.007707) / 3, rel=1e-12)
    # Each image carries the site's U rotated by the operation that made it: the same eigenvalues.
    full = s.atoms()
    assert full.labels.count("O1") == 4 and full.labels.count("Ti1") == 2
    for label, u in zip(full.labels, full.u):
        site = o if label == "O1" else ti
        np.testing.assert_allclose(np.linalg.eigvalsh(u), np.linalg.eigvalsh(site.u), atol=1e-15)


def test_a_structure_is_named_by_str_pathlike_or_bytes_and_pickles(tmp_path):
    path = MODEL / "TiO2_rutile-fit.cif"
    forms = [talvo.Structure.from_cif(str(path)), talvo.Structure.from_cif(path),
             talvo.Structure.from_cif(os.fsencode(str(path))), talvo.read_structure(path)]
    assert all(f == forms[0] for f in forms)
    assert pickle.loads(pickle.dumps(forms[0])) == forms[0]
    # Its CIF reads back to the same cell and sites.
    out = tmp_path / "again.cif"
    out.write_text(forms[0].to_cif())
    again = talvo.Structure.from_cif(out)
    assert again.cell == forms[0].cell
    np.testing.assert_allclose(again.sites[1].u, forms[0].sites[1].u, atol=1e-9)
    assert len(again.atoms().xyz) == 6
    # A block by name, with or without data_.
    assert talvo.Structure.from_cif(path, block="data_3D") == talvo.Structure.from_cif(path, block="3D")


def test_a_box_is_read_from_xyz(tmp_path):
    box = tmp_path / "pair.xyz"
    box.write_text("2\na Ni pair\nNi 0 0 0\nNi 2.5 0 0\n")
    s = talvo.Structure.from_xyz(box)
    assert not s.periodic and s.name == "a Ni pair"
    np.testing.assert_allclose(s.sites[1].xyz, [2.5, 0, 0])
    m = talvo.pdf_model(s, uiso=0.005, r=(2.0, 3.0, 0.01))
    # Two atoms, one pair counted twice, over N = 2: the peak's area is 1 / r_ij... at r_ij.
    assert m.rho0 == 0.0 and m.atoms == 2.0
    assert m.r[np.argmax(m.g)] == pytest.approx(2.5)
    assert np.sum(m.g) * 0.01 == pytest.approx(1 / 2.5, rel=1e-4)


# --- the model -------------------------------------------------------------------

@pytest.mark.parametrize("structure,options,arguments", [
    ("Ni.cif", dict(uiso=0.005, r=(0, 10, 0.01)), ["--uiso", "0.005", "--r", "0:10:0.01"]),
    ("Ni.stru", dict(qmax=25, qdamp=0.03, peak_norm="r", line="terminated", xray_weights="z"),
     ["--qmax", "25", "--qdamp", "0.03", "--peak-norm", "r", "--line", "terminated", "--xray-weights", "z"]),
    ("TiO2_rutile-fit.cif", dict(radiation="neutron", r=(1, 20, 0.01), qmax=26, qdamp=0.0666, delta2=2.31),
     ["--radiation", "neutron", "--r", "1:20:0.01", "--qmax", "26", "--qdamp", "0.0666", "--delta2", "2.31"]),
    ("CdSe_cadmoselite.cif", dict(uiso="0.0063325739776461", r="0.1:20:0.05", qmax=40, spdiameter=30, partials=True),
     ["--uiso", "0.0063325739776461", "--r", "0.1:20:0.05", "--qmax", "40", "--spdiameter", "30", "--partials"]),
])
def test_the_model_is_talvo_tools_model(structure, options, arguments):
    m = talvo.pdf_model(talvo.read_structure(MODEL / structure), **options)
    out = run_tools("model", MODEL / structure, *arguments, "--digits", "17")
    table = np.array(rows(out))
    np.testing.assert_allclose(m.r, table[:, 0], rtol=1e-10, atol=1e-12)
    assert np.array_equal(m.g, table[:, 1])  # the same numbers, to the last digit
    for k, pair in enumerate(m.partials):
        assert np.array_equal(m.partials[pair], table[:, 2 + k]), pair
    if m.partials:
        np.testing.assert_allclose(sum(m.partials.values()), m.g, atol=1e-12 * np.max(np.abs(m.g)))
        assert set(m.partials) == {"Cd-Cd", "Cd-Se", "Se-Se"}
    # The record of what made it: the header's settings, weights and peak normalisation.
    lines = out.splitlines()
    header = lines[lines.index(f"# structure = {MODEL / structure}") + 1:]
    header = header[:next(k for k, line in enumerate(header) if line.startswith("# weights: "))]
    assert m.settings == [line[2:] for line in header]
    assert f"# weights: {m.weights_source}" in lines
    for species, f in m.weights.items():
        assert f"#   {species}: f = " in out
    assert m.peak_norm == options.get("peak_norm", "rij")
    assert ("the grid's r" in out) == (m.peak_norm == "r")


def test_model_keywords_are_the_tables():
    s = talvo.Structure.from_cif(MODEL / "Ni.cif")
    with pytest.raises(TypeError, match="unexpected keyword argument 'q_max'"):
        talvo.pdf_model(s, uiso=0.005, q_max=20)
    with pytest.raises(talvo.TalvoValueError, match="peak_norm"):
        talvo.pdf_model(s, uiso=0.005, peak_norm="rr")
    with pytest.raises(talvo.TalvoValueError, match="qmax"):
        talvo.pdf_model(s, uiso=0.005, qmax=-1)
    with pytest.raises(talvo.TalvoValueError, match="rcut"):
        talvo.pdf_model(s, uiso=0.005, sratio=0.8)
    with pytest.raises(TypeError, match="three numbers"):
        talvo.pdf_model(s, uiso=0.005, r=(0, 1))
    # Ni.cif gives no displacement: the model says so.
    with pytest.raises(talvo.TalvoValueError, match="uiso"):
        talvo.pdf_model(s)
    # A number as text, as the command reads it.
    assert np.array_equal(talvo.pdf_model(s, uiso="5e-3", rcut="3", sratio=0.8).g,
                          talvo.pdf_model(s, uiso=0.005, rcut=3, sratio=0.8).g)
    with pytest.raises(talvo.TalvoValueError, match="rcut is not a number"):
        talvo.pdf_model(s, uiso=0.005, rcut="3 furlongs", sratio=0.8)


@pytest.mark.parametrize("text,kind,words", [
    ("data_x\n_cell_length_a 3\n", talvo.TalvoValueError, "cell"),
    ("data_x\n_cell_length_a 3\n_cell_length_b 3\n_cell_length_c 3\nloop_\n_atom_site_label\n_atom_site_type_symbol\n"
     "_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\nXx1 Xx 0 0 0\n", talvo.TalvoValueError, "Xx"),
])
def test_a_broken_cif_is_a_value_error(tmp_path, text, kind, words):
    path = tmp_path / "broken.cif"
    path.write_text(text)
    with pytest.raises(kind, match=words) as caught:
        talvo.Structure.from_cif(path)
    assert type(caught.value) is kind
    with pytest.raises(talvo.TalvoFileNotFoundError):
        talvo.Structure.from_cif(tmp_path / "nope.cif")
    with pytest.raises(talvo.TalvoValueError, match="block"):
        talvo.Structure.from_cif(MODEL / "Ni.cif", block="other")
    with pytest.raises(talvo.TalvoValueError, match=r"\.cif, \.stru or \.xyz"):
        talvo.read_structure(MODEL / "README.md")


# --- the refinement ------------------------------------------------------------------

NICKEL = dict(refine="a,uiso,sratio=1,scale", r=(1.5, 10), qmax=40, qdamp=0.001, rcut=3, xray_weights="z")


@pytest.mark.parametrize("convention,expected", [
    # PDFgui's stored result (its sigma unscaled), made with the peaks over the grid's r.
    (dict(peak_norm="r", line="terminated"),
     dict(a=(3.5317537, 0.0000354), uiso=(0.0051955, 0.0000082), sratio=(0.78742, 0.00138), scale=(0.66971, 0.00067),
          rw=0.0961085)),
    # The same data with the peaks over r_ij, as an independent program of that convention refines them.
    (dict(peak_norm="rij", line="terminated"),
     dict(a=(3.530990, 0.0000354), uiso=(0.0051987, 0.0000082), sratio=(0.78738, 0.00138), scale=(0.66994, 0.00067),
          rw=0.097176)),
])
def test_nickel_refines_as_pdfgui_refined_it(tmp_path, convention, expected):
    ni = talvo.Structure.from_stru(MODEL / "Ni.stru")
    fit = talvo.refine(ni, MODEL / "Ni_2-8.chi.gr", **NICKEL, **convention)
    assert fit.converged and not fit.unit_weights and fit.points == 851
    assert fit.names == ["a", "uiso", "sratio", "scale"]
    for name in fit.names:
        value, sigma = expected[name]
        assert abs(fit.values[name] - value) <= sigma, name
        # sigma as PDFgui prints it, within a tenth, and the scaled one beside it.
        assert fit.sigma[name] == pytest.approx(sigma, rel=0.1), name
        assert fit.sigma_scaled[name] == pytest.approx(fit.sigma[name] * math.sqrt(fit.chi2_reduced), rel=1e-12)
    assert fit.rw == pytest.approx(expected["rw"], abs=1e-4)
    assert fit.chi2_reduced == pytest.approx(fit.chi2 / (fit.points - 4), rel=1e-12)
    np.testing.assert_allclose(np.sqrt(np.diag(fit.covariance)), [fit.sigma[n] for n in fit.names], rtol=1e-12)
    np.testing.assert_allclose(np.diag(fit.correlation), 1.0, atol=1e-12)
    # Rw from the curves it returns, with the data's dG as weights.
    data = np.array(rows((MODEL / "Ni_2-8.chi.gr").read_text().split("#### start data")[-1]))
    window = (data[:, 0] >= 1.5 - 1e-9) & (data[:, 0] <= 10 + 1e-9)
    w = 1 / data[window, 3] ** 2
    assert math.sqrt(np.sum(w * (fit.g_obs - fit.g_calc) ** 2) / np.sum(w * fit.g_obs**2)) == pytest.approx(fit.rw)
    # The refined structure: its cell moved with a, and its CIF reads back to a within the digits written.
    assert fit.structure.cell[:3] == (fit.values["a"],) * 3
    assert fit.structure.sites[0].uiso == pytest.approx(fit.values["uiso"])
    cif = tmp_path / "ni.cif"
    cif.write_text(fit.cif)
    assert "_cell_length_a" in fit.cif and "(" in fit.cif
    assert talvo.Structure.from_cif(cif).cell[0] == pytest.approx(fit.values["a"], abs=fit.sigma_scaled["a"])
    # The plot talvo-tools refine --plot draws: data as circles (every other of the 851, and the legend's),
    # fit and difference as lines, the Rw in it.
    assert fit.svg.startswith("<svg") and fit.svg.count("<circle") == 427 and fit.svg.count("<polyline") == 2
    assert "structure Ni  FCC fitted to " in fit.svg


def test_the_refinement_is_talvo_tools_refine():
    fit = talvo.refine(talvo.Structure.from_stru(MODEL / "Ni.stru"), MODEL / "Ni_2-8.chi.gr", **NICKEL)
    out = json.loads(run_tools("refine", MODEL / "Ni_2-8.chi.gr", MODEL / "Ni.stru", "--refine", NICKEL["refine"],
                               "--r", "1.5:10", "--qmax", "40", "--qdamp", "0.001", "--rcut", "3", "--xray-weights", "z",
                               "--json"))
    assert list(out["params"]) == fit.names
    for name, p in out["params"].items():
        assert (p["value"], p["sigma"], p["sigma_scaled"]) == (fit.values[name], fit.sigma[name],
                                                              fit.sigma_scaled[name])
    assert (out["Rw"], out["chi2_reduced"], out["iterations"]) == (fit.rw, fit.chi2_reduced, fit.iterations)


def test_data_given_as_arrays_refine_as_the_file():
    data = np.array(rows((MODEL / "Ni_2-8.chi.gr").read_text().split("#### start data")[-1]))
    ni = talvo.Structure.from_stru(MODEL / "Ni.stru")
    options = dict(refine=["a", "scale"], r="1.5:6", qmax=40, qdamp=0.001)
    from_file = talvo.refine(ni, MODEL / "Ni_2-8.chi.gr", **options)
    from_arrays = talvo.refine(ni, (data[:, 0], data[:, 1], data[:, 3]), **options)
    assert from_arrays.values == from_file.values and from_arrays.rw == from_file.rw
    # Without dG every point weighs 1, and the result says so.
    unit = talvo.refine(ni, data[:, :2], **options)
    assert unit.unit_weights and not from_file.unit_weights


@pytest.mark.parametrize("data,options,kind,words", [
    ("file", dict(refine="a,volume"), talvo.TalvoValueError, "not a parameter"),
    ("file", dict(refine="uiso:Fe"), talvo.TalvoValueError, "no site or element"),
    ("file", dict(refine="a", r="1.5-10"), talvo.TalvoValueError, "FROM:TO"),
    ("file", dict(), TypeError, "refine="),
    ("file", dict(refine="a", fit=1), TypeError, "unexpected keyword argument 'fit'"),
    (([1.0, 2.0, 3.0], [1.0, 2.0]), dict(refine="a"), talvo.TalvoValueError, "one length"),
    (([1.0], [1.0]), dict(refine="a"), talvo.TalvoValueError, "at least 2 points"),
    (np.zeros((5, 4)), dict(refine="a"), talvo.TalvoValueError, r"\(n, 2\) or \(n, 3\)"),
    ("nope", dict(refine="a"), talvo.TalvoFileNotFoundError, "nope.gr"),
])
def test_refine_refuses_what_it_cannot_fit(data, options, kind, words):
    ni = talvo.Structure.from_stru(MODEL / "Ni.stru")
    path = {"file": MODEL / "Ni_2-8.chi.gr", "nope": MODEL / "nope.gr"}
    with pytest.raises(kind, match=words):
        talvo.refine(ni, path.get(data, data) if isinstance(data, str) else data, **options)


def test_a_structure_state_that_is_no_structure_is_refused():
    s = talvo.Structure.__new__(talvo.Structure)
    with pytest.raises(TypeError, match="holds no values"):
        s.cell
    state = talvo.Structure.from_cif(MODEL / "TiO2_rutile-fit.cif").__getstate__()
    state["operations"] = ["x,y,z", "x+y,y,z"]  # not an isometry of the tetragonal cell
    with pytest.raises(talvo.TalvoValueError):
        talvo.Structure.__new__(talvo.Structure).__setstate__(state)
    del state["sites"]
    with pytest.raises(TypeError, match="sites"):
        talvo.Structure.__new__(talvo.Structure).__setstate__(state)
