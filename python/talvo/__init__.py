"""Neutron and X-ray scattering of materials, from their chemical formula.

The computations are the TALVO library's, compiled into talvo._core; see
help(talvo._core) for the overview and each function's docstring for its
arguments, units and errors.
"""
import copyreg as _copyreg
import importlib.resources as _resources
import typing as _typing

from . import _core
from ._core import (
    Dispersion,
    Element,
    ElementSweep,
    Material,
    MaterialSweep,
    Partial,
    PartialSweep,
    PerAtom,
    PerAtomSweep,
    PerFormula,
    Pdf,
    Sq2gr,
    TalvoError,
    TalvoFileNotFoundError,
    TalvoMemoryError,
    TalvoOSError,
    TalvoValueError,
    TalvoWarning,
    Units,
    XrayAverage,
    XrayElement,
    XrayMaterial,
    XrdmlFile,
    XrdmlScan,
    __version__,
    anode_energy,
    compton,
    convert_density,
    data_file,
    dispersion,
    filon_ft,
    form_factor,
    material,
    modification,
    pdf,
    peak,
    read_xrdml,
    sq2gr,
    xray_average,
    xray_material,
)

__doc__ = _core.__doc__

__all__ = [
    "Dispersion", "Element", "ElementSweep", "Material", "MaterialSweep", "Partial", "PartialSweep", "PerAtom",
    "PerAtomSweep", "PerFormula", "Pdf", "Sq2gr", "TalvoError", "TalvoFileNotFoundError", "TalvoMemoryError",
    "TalvoOSError", "TalvoValueError", "TalvoWarning", "Units", "XrayAverage", "XrayElement", "XrayMaterial",
    "XrdmlFile", "XrdmlScan", "__version__", "anode_energy", "compton", "convert_density", "data_file",
    "dispersion", "filon_ft", "form_factor", "material", "modification", "pdf", "peak", "read_xrdml", "sq2gr",
    "xray_average", "xray_material",
]



def _reduce(self: _typing.Any) -> tuple[_typing.Any, ...]:
    # Made again as pickle's protocol 2 makes an object, under every protocol:
    # cls.__new__(cls), then __setstate__ with the state (protocols 0 and 1
    # would otherwise reach object.__new__, which a compiled class refuses).
    return (_copyreg.__newobj__, (type(self),), self.__getstate__())  # type: ignore[attr-defined]


# Results and errors are defined in _core but belong to the package: pickles
# and reprs name them talvo.X, where they are found again.
for _name in __all__:
    _obj = globals()[_name]
    if isinstance(_obj, type):
        _obj.__module__ = __name__
        if "__getstate__" in vars(_obj):
            setattr(_obj, "__reduce__", _reduce)


def _plot_pdf(self: Pdf, figure: _typing.Any = None) -> _typing.Any:
    """Draws I(Q) with what it oscillates about, S(Q), F(Q) and G(r) in four
    panels with matplotlib (ImportError where it is not installed); returns
    the figure."""
    import matplotlib.pyplot as plt  # type: ignore[import]

    fig = figure if figure is not None else plt.figure(figsize=(10, 7))
    axes = fig.subplots(2, 2)
    panels = [(self.q, self.iq, "Q (1/A)", "I(Q) (e.u./atom)"), (self.sq_q, self.sq, "Q (1/A)", "S(Q)"),
              (self.sq_q, self.fq, "Q (1/A)", "F(Q) (1/A)"), (self.r, self.gr, "r (A)", "G(r) (1/A^2)")]
    for ax, (x, y, xlabel, ylabel) in zip(axes.flat, panels):
        ax.plot(x, y, lw=0.8)
        ax.set_xlabel(xlabel)
        ax.set_ylabel(ylabel)
    axes.flat[0].plot(self.q, self.model, lw=0.8)
    if self.number_density is not None:
        axes.flat[3].plot(self.r, -4 * 3.141592653589793 * self.number_density * self.r, lw=0.8, ls="--")
    fig.tight_layout()
    return fig


setattr(Pdf, "plot", _plot_pdf)


def _data_folder() -> str:
    # The package's data, shipped beside its modules. A package inside a zip
    # archive has no folder: its files are extracted for the process's life.
    data = _resources.files(__name__) / "data"
    if isinstance(data, __import__("pathlib").Path):
        return str(data) + "/"
    import atexit
    import contextlib

    stack = contextlib.ExitStack()
    atexit.register(stack.close)
    return str(stack.enter_context(_resources.as_file(data))) + "/"


_core._set_data_folder(_data_folder())
del _name, _obj
