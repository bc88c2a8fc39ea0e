"""Neutron and X-ray scattering of materials, from their chemical formula.

The computations are the TALVO library's, compiled into talvo._core; see
help(talvo._core) for the overview and each function's docstring for its
arguments, units and errors.
"""
import importlib.resources as _resources

from . import _core
from ._core import (
    Dispersion,
    Element,
    Material,
    MaterialSweep,
    Partial,
    PerAtom,
    PerAtomSweep,
    PerFormula,
    Sq2gr,
    TalvoError,
    TalvoFileNotFoundError,
    TalvoMemoryError,
    TalvoOSError,
    TalvoValueError,
    TalvoWarning,
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
    peak,
    read_xrdml,
    sq2gr,
    xray_average,
    xray_material,
)

__doc__ = _core.__doc__

__all__ = [
    "Dispersion", "Element", "Material", "MaterialSweep", "Partial", "PerAtom", "PerAtomSweep", "PerFormula", "Sq2gr",
    "TalvoError", "TalvoFileNotFoundError", "TalvoMemoryError", "TalvoOSError", "TalvoValueError", "TalvoWarning",
    "XrayAverage", "XrayElement", "XrayMaterial", "XrdmlFile", "XrdmlScan", "__version__", "anode_energy", "compton",
    "convert_density", "data_file", "dispersion", "filon_ft", "form_factor", "material", "modification", "peak",
    "read_xrdml", "sq2gr", "xray_average", "xray_material",
]

# Results and errors are defined in _core but belong to the package: pickles
# and reprs name them talvo.X, where they are found again.
for _name in __all__:
    _obj = globals()[_name]
    if isinstance(_obj, type):
        _obj.__module__ = __name__


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
