"""An independent G(r) of a crystal in numpy, written from the model's
formulas (the PDFfit2 / diffpy.srreal model: Farrow et al., J. Phys.:
Condens. Matter 19 (2007) 335219; Jeong et al., PRB 67 (2003) 104301), not
from the library: its own CIF reading (the cell, the atom-site and aniso
loops, the xyz operations), its own expansion of the asymmetric unit, its
own cell matrix and U convention, a plain sum of Gaussians over every image
within reach, and the termination as a direct convolution.

    G0(r) = (1/N) sum_i sum_j w_ij exp(-(r - r_ij)^2 / (2 s_ij^2)) / (sqrt(2 pi) s_ij n_ij) - 4 pi rho0 r
    w_ij = c_i f_i c_j f_j / <f>^2, <f> = sum_k c_k f_k / N, N = sum_k c_k, rho0 = N / V
    s'_ij^2 = u^T (U_i + U_j) u, s_ij = s'_ij sqrt(1 - d1/r_ij - d2/r_ij^2 + Qbroad^2 r_ij^2), times sratio below rcut
    n_ij = r_ij or the grid's r; each Gaussian cut at 5 s
    G = scale exp(-(Qdamp r)^2 / 2) gamma(r) G0, the peaks convolved with
        (1/pi) [sin(Qmax (r - r'))/(r - r') - sin(Qmax (r + r'))/(r + r')]
        over a range extended by 6 ripples (6 2 pi / Qmax) each side, the
        line -4 pi rho0 r (times the same envelope) added after.
"""
import math
import re
import shlex

import numpy as np


def _number(text):
    """A CIF number: its standard uncertainty in parentheses dropped."""
    return float(re.sub(r"\(\d+\)$", "", text))


def read_cif(path):
    """The first data block's single values and loops: {tag: value} and [{tag: [values]}]."""
    values, loops = {}, []
    lines = open(path, encoding="utf-8").read().splitlines()
    i, in_block = 0, False
    tokens_pending = []
    while i < len(lines):
        line = lines[i].strip()
        i += 1
        if line.startswith(";"):  # a text field: skipped to its closing ;
            while i < len(lines) and not lines[i].startswith(";"):
                i += 1
            i += 1
            continue
        if not line or line.startswith("#"):
            continue
        if line.lower().startswith("data_"):
            if in_block:
                break
            in_block = True
            continue
        if line.lower() == "loop_":
            tags = []
            while i < len(lines) and lines[i].strip().startswith("_"):
                tags.append(lines[i].strip().lower())
                i += 1
            rows = []
            while i < len(lines):
                s = lines[i].strip()
                if not s or s.startswith("#"):
                    i += 1
                    continue
                if s.startswith("_") or s.lower() == "loop_" or s.lower().startswith("data_"):
                    break
                rows.extend(shlex.split(s))
                i += 1
            loop = {t: rows[k::len(tags)] for k, t in enumerate(tags)}
            loops.append(loop)
            continue
        if line.startswith("_"):
            parts = shlex.split(line)
            if len(parts) >= 2:
                values[parts[0].lower()] = parts[1]
            else:
                tokens_pending.append(parts[0].lower())
    return values, loops


def cell_matrix(a, b, c, alpha, beta, gamma):
    """Columns the cell vectors: a along x, b in the xy plane."""
    al, be, ga = (math.radians(v) for v in (alpha, beta, gamma))
    cx = c * math.cos(be)
    cy = c * (math.cos(al) - math.cos(be) * math.cos(ga)) / math.sin(ga)
    cz = math.sqrt(c * c - cx * cx - cy * cy)
    return np.array([[a, b * math.cos(ga), cx], [0.0, b * math.sin(ga), cy], [0.0, 0.0, cz]])


def operation(text):
    """x' = R x + t of an xyz operation ("1/2+y,1/2-x,-z")."""
    exprs = text.replace(" ", "").lower().split(",")
    assert len(exprs) == 3, text

    def value(expr, x, y, z):
        expr = re.sub(r"(\d)([xyz])", r"\1*\2", expr)
        return eval(expr, {"__builtins__": {}}, {"x": x, "y": y, "z": z})

    t = np.array([value(e, 0.0, 0.0, 0.0) for e in exprs])
    r = np.array([[value(e, *unit) - t[k] for unit in np.eye(3)] for k, e in enumerate(exprs)])
    return r, t


def find_loop(loops, tag):
    for loop in loops:
        if tag in loop:
            return loop
    return None


class Crystal:
    """The full cell of a CIF: each atom's element, occupancy, fractional and cartesian position and U_cart."""

    def __init__(self, path, uiso=None):
        values, loops = read_cif(path)
        cell = [_number(values["_cell_length_" + k]) for k in "abc"]
        cell += [_number(values.get("_cell_angle_" + k, "90")) for k in ("alpha", "beta", "gamma")]
        self.A = cell_matrix(*cell)
        self.volume = abs(np.linalg.det(self.A))
        recip = np.linalg.inv(self.A).T  # its columns the reciprocal vectors (without 2 pi)
        star = np.linalg.norm(recip, axis=0)
        m = self.A @ np.diag(star)
        sites = find_loop(loops, "_atom_site_fract_x")
        aniso = find_loop(loops, "_atom_site_aniso_label") or {}
        ops_loop = find_loop(loops, "_symmetry_equiv_pos_as_xyz")
        ops_text = ops_loop["_symmetry_equiv_pos_as_xyz"] if ops_loop else \
            find_loop(loops, "_space_group_symop_operation_xyz")["_space_group_symop_operation_xyz"]
        ops = [operation(t) for t in ops_text]
        labels = sites["_atom_site_label"]
        types = sites.get("_atom_site_type_symbol", labels)
        self.elements, self.occupancy, self.xyz, self.u = [], [], [], []
        a_inv = np.linalg.inv(self.A)
        for k, label in enumerate(labels):
            element = re.match(r"[A-Z][a-z]?", types[k]).group(0)
            x = np.array([_number(sites["_atom_site_fract_" + c][k]) for c in "xyz"])
            occ = _number(sites["_atom_site_occupancy"][k]) if "_atom_site_occupancy" in sites else 1.0
            if uiso is not None:
                u = uiso * np.eye(3)
            elif "_atom_site_aniso_label" in aniso and label in aniso["_atom_site_aniso_label"]:
                row = aniso["_atom_site_aniso_label"].index(label)
                g = {ij: _number(aniso["_atom_site_aniso_u_" + ij][row]) for ij in ("11", "22", "33", "12", "13", "23")}
                u_cif = np.array([[g["11"], g["12"], g["13"]], [g["12"], g["22"], g["23"]], [g["13"], g["23"], g["33"]]])
                u = m @ u_cif @ m.T
            elif "_atom_site_u_iso_or_equiv" in sites:
                u = _number(sites["_atom_site_u_iso_or_equiv"][k]) * np.eye(3)
            else:  # none given
                u = np.zeros((3, 3))
            kept = []
            for r, t in ops:
                image = (r @ x + t) % 1.0
                image[np.isclose(image, 1.0, atol=1e-12)] = 0.0
                same = False
                for other in kept:
                    d = image - other
                    d -= np.round(d)
                    if np.linalg.norm(self.A @ d) < 1e-3:
                        same = True
                        break
                if same:
                    continue
                kept.append(image)
                rc = self.A @ r @ a_inv
                self.elements.append(element)
                self.occupancy.append(occ)
                self.xyz.append(image)
                self.u.append(rc @ u @ rc.T)
        self.xyz = np.array(self.xyz)
        self.occupancy = np.array(self.occupancy)
        self.u = np.array(self.u)
        self.cartesian = self.xyz @ self.A.T


def pairs(crystal, reach):
    """Every pair (i in the cell, j any image) with 0 < r_ij <= reach: i, j, the vector from i to j."""
    recip = np.linalg.inv(crystal.A).T
    # Cells along each axis: enough that the planes apart by 1/|a*| cover the reach.
    n = [int(math.ceil(reach * np.linalg.norm(recip[:, k]))) + 1 for k in range(3)]
    shifts = np.array([(i, j, k) for i in range(-n[0], n[0] + 1) for j in range(-n[1], n[1] + 1)
                       for k in range(-n[2], n[2] + 1)], dtype=float) @ crystal.A.T
    out_i, out_j, out_d = [], [], []
    for i in range(len(crystal.xyz)):
        d = crystal.cartesian[None, :, :] + shifts[:, None, :] - crystal.cartesian[i]
        d = d.reshape(-1, 3)
        j = np.tile(np.arange(len(crystal.xyz)), len(shifts))
        r = np.linalg.norm(d, axis=1)
        keep = (r > 1e-8) & (r <= reach)
        out_i.append(np.full(keep.sum(), i))
        out_j.append(j[keep])
        out_d.append(d[keep])
    return np.concatenate(out_i), np.concatenate(out_j), np.concatenate(out_d)


def peaks(crystal, f, grid, delta1=0.0, delta2=0.0, qbroad=0.0, sratio=1.0, rcut=0.0, norm="rij"):
    """(1/N) sum of the pair Gaussians on `grid` (equally spaced), without the line."""
    step = grid[1] - grid[0]
    c = crystal.occupancy
    fi = np.array([f[e] for e in crystal.elements])
    n_atoms = c.sum()
    f_mean = (c * fi).sum() / n_atoms
    i, j, d = pairs(crystal, grid[-1] + 3.0)
    rij = np.linalg.norm(d, axis=1)
    u = d / rij[:, None]
    s2 = np.einsum("pk,pkl,pl->p", u, crystal.u[i] + crystal.u[j], u)
    bracket = 1.0 - delta1 / rij - delta2 / rij**2 + qbroad**2 * rij**2
    keep = bracket > 0
    i, j, rij, s2, bracket = i[keep], j[keep], rij[keep], s2[keep], bracket[keep]
    s = np.sqrt(s2 * bracket)
    s = np.where(rij < rcut, sratio * s, s)
    w = c[i] * fi[i] * c[j] * fi[j] / f_mean**2
    out = np.zeros(len(grid))
    width = int(math.ceil(5.0 * s.max() / step)) + 2
    offsets = np.arange(-width, width + 1)
    for start in range(0, len(rij), 20000):
        sl = slice(start, start + 20000)
        k = np.rint((rij[sl] - grid[0]) / step).astype(int)[:, None] + offsets
        inside = (k >= 0) & (k < len(grid))
        kk = np.clip(k, 0, len(grid) - 1)
        r = grid[kk]
        x = r - rij[sl, None]
        ss = s[sl, None]
        divisor = rij[sl, None] if norm == "rij" else np.where(r > 0, r, np.inf)
        value = w[sl, None] * np.exp(-x * x / (2 * ss * ss)) / (math.sqrt(2 * math.pi) * ss * divisor)
        inside &= np.abs(x) <= 5.0 * ss
        out += np.bincount(kk[inside], weights=value[inside], minlength=len(grid))
    return out / n_atoms


def pdf(crystal, f, rmin, rmax, rstep, qmax=0.0, qdamp=0.0, scale=1.0, spdiameter=0.0, fine=0.01, **widths):
    """r and G(r) on rmin, rmin + rstep, ... rmax. The termination's
    convolution is a sum over the points of a grid through r's finer by a
    whole number, to a step of at most `fine` Angstrom: the Gaussians
    (s >= 0.05 Angstrom) and the kernel's ripples (2 pi / Qmax) are
    resolved however coarse r is."""
    count = int(round((rmax - rmin) / rstep)) + 1
    r = rmin + rstep * np.arange(count)
    rho0 = crystal.occupancy.sum() / crystal.volume

    def envelope(x):
        e = scale * np.exp(-0.5 * (qdamp * x) ** 2)
        if spdiameter > 0:
            t = x / spdiameter
            e = e * np.where(t < 1, 1 - 1.5 * t + 0.5 * t**3, 0.0)
        return e

    line = -4 * math.pi * rho0 * r * envelope(r)
    if qmax <= 0:
        return r, envelope(r) * peaks(crystal, f, r, **widths) + line
    split = max(1, int(math.ceil(rstep / fine - 1e-9)))
    step = rstep / split
    # The peaks over the range extended by six ripples each side (not below 0), on the fine grid's points.
    extend = 6 * 2 * math.pi / qmax
    low = max(int(math.floor((rmin - extend) / step)), int(math.ceil(-rmin / step - 1e-9)))
    high = (count - 1) * split + int(math.ceil(extend / step))
    rp = rmin + step * np.arange(low, high + 1)
    p = envelope(rp) * peaks(crystal, f, rp, **widths)
    diff = r[:, None] - rp[None, :]
    summ = r[:, None] + rp[None, :]

    def sinc_term(x):
        with np.errstate(invalid="ignore", divide="ignore"):
            return np.where(np.abs(x) < 1e-12, qmax, np.sin(qmax * x) / np.where(x == 0, 1, x))

    kernel = (sinc_term(diff) - sinc_term(summ)) / math.pi
    return r, kernel @ p * step + line
