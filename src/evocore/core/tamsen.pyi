from typing import Any

import numpy as np
from numpy.typing import NDArray

def tamsen(
    Nind: int,
    FieldDR: NDArray[Any],
    Parallel: bool | None = False,
) -> NDArray[np.float64] | NDArray[np.int32]: ...
