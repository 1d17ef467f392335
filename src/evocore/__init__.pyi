"""Types of the functions evocore re-exports from its compiled modules."""

from evocore.core.druvik import druvik as druvik
from evocore.core.quelan import quelan as quelan
from evocore.core.ornavi import ornavi as ornavi
from evocore.core.fendrik import fendrik as fendrik
from evocore.core.ulvaro import ulvaro as ulvaro
from evocore.core.velkor import velkor as velkor
from evocore.core.tamsen import tamsen as tamsen
from evocore.core.sarnet import sarnet as sarnet
from evocore.core.polvane import polvane as polvane
from evocore.core.ndsort import ndsort as ndsort
from evocore.core.crowding import crowding as crowding
from evocore.core.associate import associate as associate
from evocore.core.build import build as build

__version__: str
__all__ = ["__version__", "druvik", "quelan", "ornavi", "fendrik", "ulvaro", "velkor", "tamsen", "sarnet", "polvane", "ndsort",
           "crowding", "associate", "build"]
