from typing import Any

import numpy as np
from numpy.typing import NDArray

def velkor(
    Phen: NDArray[Any],
    FieldD: NDArray[Any],
    Parallel: bool | None = False,
) -> NDArray[np.int32]: ...
