from typing import Any

import numpy as np
from numpy.typing import NDArray

def sarnet(
    OldChrom: NDArray[Any],
    XOVR: float | None = 0.7,
    Half_N: bool | int | None = False,
    Parallel: bool | None = False,
    params4: Any = None,
) -> NDArray[np.int32]: ...
