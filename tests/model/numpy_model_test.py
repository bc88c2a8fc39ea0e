"""talvo.pdf_model against numpy_pdf_model.py, the same model written
independently in numpy: fcc nickel (isotropic U, every width option),
rutile (anisotropic U from its CIF, two elements, X-ray and neutron
weights) and wurtzite CdSe (a hexagonal cell, a particle envelope), before
and after the Qmax termination."""
import math
import pathlib
import sys

import numpy as np
import pytest

import talvo

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import numpy_pdf_model as peer  # noqa: E402

DATA = HERE.parent / "data" / "pdf_model"

# X-ray f as the atoms' electrons (Z); neutron lengths b (fm) as Sears
# (Neutron News 3 (1992) 26) lists them.
ELECTRONS = {"Ni": 28, "Ti": 22, "O": 8, "Cd": 48, "Se": 34}
SEARS_B = {"Ti": -3.438, "O": 5.803, "Cd": 4.87, "Se": 7.970}
U_CDSE = 0.5 / (8 * math.pi**2)  # Biso 0.5

WIDTHS = dict(delta1=0.3, delta2=1.5, qbroad=0.02, sratio=0.8, rcut=3.0)

CASES = [
    # name, CIF, uiso for every atom (None: the CIF's), f (None: talvo's f0 record), radiation, grid, options
    ("Ni", "Ni.cif", 0.005, ELECTRONS, "xray", (0, 20, 0.01), {}),
    ("Ni widths", "Ni.cif", 0.005, ELECTRONS, "xray", (0, 20, 0.01), dict(WIDTHS, qdamp=0.03, scale=0.7)),
    ("Ni over r", "Ni.cif", 0.005, ELECTRONS, "xray", (0, 20, 0.01), dict(norm="r")),
    ("Ni Qmax 25", "Ni.cif", 0.005, ELECTRONS, "xray", (0, 20, 0.01), dict(qmax=25.0)),
    ("Ni Qmax 25 widths", "Ni.cif", 0.005, ELECTRONS, "xray", (0.5, 15, 0.01), dict(WIDTHS, qmax=25.0, qdamp=0.05)),
    ("rutile X-ray Z", "TiO2_rutile-fit.cif", None, ELECTRONS, "xray", (1, 30, 0.01), dict(delta2=2.31, qdamp=0.0666)),
    ("rutile X-ray f0", "TiO2_rutile-fit.cif", None, None, "xray", (1, 30, 0.01), dict(delta2=2.31, qdamp=0.0666)),
    ("rutile neutron", "TiO2_rutile-fit.cif", None, SEARS_B, "neutron", (1, 30, 0.01), dict(delta2=2.31)),
    ("rutile X-ray Qmax 26", "TiO2_rutile-fit.cif", None, None, "xray", (1, 30, 0.01),
     dict(qmax=26.0, qdamp=0.0665649, scale=0.655857, delta2=2.309118)),
    ("rutile neutron Qmax 26", "TiO2_rutile-fit.cif", None, SEARS_B, "neutron", (1, 20, 0.01),
     dict(qmax=26.0, qdamp=0.0666, delta2=2.31)),
    ("CdSe X-ray", "CdSe_cadmoselite.cif", U_CDSE, ELECTRONS, "xray", (0.1, 20, 0.05), dict(spdiameter=30.0)),
    ("CdSe X-ray Qmax 40", "CdSe_cadmoselite.cif", U_CDSE, None, "xray", (0.1, 20, 0.05), dict(qmax=40.0)),
    ("CdSe neutron Qmax 40", "CdSe_cadmoselite.cif", U_CDSE, SEARS_B, "neutron", (0.1, 10, 0.05),
     dict(qmax=40.0, spdiameter=30.0)),
]


@pytest.mark.parametrize("name,cif,uiso,f,radiation,grid,options", CASES, ids=[c[0] for c in CASES])
def test_the_model_agrees_with_an_independent_numpy_sum(name, cif, uiso, f, radiation, grid, options):
    options = dict(options)
    norm = options.pop("norm", "rij")
    keywords = {k: v for k, v in options.items()}
    if radiation == "xray":
        keywords["xray_weights"] = "f0" if f is None else "z"
    made = talvo.pdf_model(talvo.Structure.from_cif(DATA / cif), r=grid, radiation=radiation, uiso=uiso,
                           peak_norm=norm, **keywords)
    if f is None:
        # The Waasmaier-Kirfel f0(0) talvo records: within 0.05 of each neutral atom's electrons.
        f = made.weights
        for species, value in f.items():
            assert abs(value - ELECTRONS[species]) < 0.05, species
    elif radiation == "neutron":
        assert made.weights == pytest.approx({k: SEARS_B[k] for k in made.weights}, abs=0.005)
    crystal = peer.Crystal(DATA / cif, uiso=uiso)
    r, g = peer.pdf(crystal, f, *grid, norm=norm, **options)
    np.testing.assert_allclose(made.r, r, rtol=0, atol=1e-12)
    scale = np.max(np.abs(g))
    # Summed in another order, terminated by the same convolution: agreement to rounding, well within
    # 1e-6 of max|G| before the termination and 1e-4 after.
    assert np.max(np.abs(made.g - g)) < 1e-9 * scale, name
    assert made.peak_norm == norm and made.rho0 == pytest.approx(crystal.occupancy.sum() / crystal.volume, rel=1e-12)


@pytest.mark.parametrize("cif,atoms", [("Ni.cif", 4), ("TiO2_rutile-fit.cif", 6), ("CdSe_cadmoselite.cif", 4)])
def test_the_cell_expands_to_the_same_atoms(cif, atoms):
    crystal = peer.Crystal(DATA / cif)
    full = talvo.Structure.from_cif(DATA / cif).atoms()
    assert len(crystal.xyz) == len(full.xyz) == atoms
    np.testing.assert_allclose(talvo.Structure.from_cif(DATA / cif).lattice, crystal.A, atol=1e-12)
    # The same positions (in any order) with the same U_cart at each.
    for x, u in zip(crystal.xyz, crystal.u):
        d = full.xyz - x
        d -= np.round(d)
        k = int(np.argmin(np.linalg.norm(d, axis=1)))
        assert np.linalg.norm(d[k]) < 1e-9
        np.testing.assert_allclose(full.u[k], u, atol=1e-12)


@pytest.mark.parametrize("cif,uiso,grid,options", [
    ("Ni.cif", 0.005, (0, 20, 0.01), dict(qmax=25.0)),
    ("TiO2_rutile-fit.cif", None, (1, 30, 0.01), dict(qmax=26.0, qdamp=0.0665649, delta2=2.309118)),
])
def test_the_termination_is_near_its_continuum_limit(cif, uiso, grid, options):
    # The convolution summed at 0.01 Angstrom against the same at 0.0025: what is left is the sum's error at
    # the hard end of the range extended by six ripples, largest near rmax (measured 9e-4 of max|G| for
    # nickel, 4e-4 for rutile; 1.5e-4 up to 2 Angstrom below rmax).
    made = talvo.pdf_model(talvo.Structure.from_cif(DATA / cif), r=grid, uiso=uiso, xray_weights="z", **options)
    r, g = peer.pdf(peer.Crystal(DATA / cif, uiso=uiso), ELECTRONS, *grid, fine=0.0025, **options)
    error = np.abs(made.g - g) / np.max(np.abs(g))
    assert error.max() < 1.5e-3
    assert error[r < grid[1] - 2].max() < 5e-4
