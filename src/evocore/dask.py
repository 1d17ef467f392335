"""evocore's operators over Dask arrays chunked along rows, with the bytes of the one-machine call.

Every function here has the name and the arguments of the compiled operator and takes (and
returns) ``dask.array`` arrays chunked along rows with a single chunk of columns.  The graph calls
the compiled functions on each chunk; where an operator has a global step, that step is taken
over all chunks first, with the one-machine rule for ties and NaN.  Every step of a chunk, and
every merge of the chunks' partial results, is compiled (``evocore.core._partial``, with the
operators' own kernels); this module only shapes the graph:

- the ideal point (``ornavi``; ``druvik``/``quelan`` with ``idealPoint=None``) is a tree
  reduction: each chunk is reduced by the compiled column reduction, and partial results are
  combined in row order, a NaN winning and, of +0.0 and -0.0, the later row's value kept; the
  merge with ``old_idealPoint`` (which keeps the older value on ties) is done once, at the end,
  by the compiled operator itself;
- with ``CV`` the column maxima of the feasibility rule are taken over all rows (row 0 first,
  replaced only by a strictly greater value) before any chunk is penalised;
- ``ulvaro`` finds the column's global maximum and minimum first (computed when the call is
  made), then applies its formula chunk by chunk;
- ``polvane`` is computed block by block over chunks of A's rows and of B's rows (each entry is
  the kernel's own), so a result larger than memory can be written with ``to_zarr``;
- ``tamsen`` gives the matrix of ``tamsen(..., Parallel=True)``: row r is drawn from a generator
  seeded with randDelta + r, randDelta drawn here once, after the same checks, from NumPy's
  global generator, so ``np.random.seed(s)`` gives the same matrix as on one machine.

``sarnet`` is not offered: it pairs row i with row i + Nind/2 and its crossover points come from
one generator in row order, so chunks would need re-pairing across the whole population (a
shuffle as large as the population) for an operator that is a fraction of a second on any
population that fits a machine; gather the population and call ``evocore.sarnet``.

The ``Parallel`` argument is accepted for the signature's sake; each chunk runs on the compiled
kernel's serial or parallel form as asked (the bits are the same).
"""

try:
    import dask
    import dask.array as da
except ImportError as error:   # one line that says what to install
    raise ModuleNotFoundError(f"evocore.dask needs Dask ({error.name} is missing): "
                              "pip install 'evocore[dask]'", name=error.name) from None
import numpy as np

from evocore.core._partial import _partial
from evocore.core._tamsen_rows import _tamsen_rows
from evocore.core.druvik import druvik as _druvik
from evocore.core.fendrik import fendrik as _fendrik
from evocore.core.ornavi import ornavi as _ornavi
from evocore.core.polvane import polvane as _polvane
from evocore.core.quelan import quelan as _quelan
from evocore.core.ulvaro import ulvaro as _ulvaro
from evocore.core.velkor import velkor as _velkor

__all__ = ["druvik", "quelan", "ornavi", "fendrik", "ulvaro", "velkor", "tamsen", "polvane"]


# ---- shapes -------------------------------------------------------------------------------------


def _rows(x, name, like=None):
    """x as a 2-D dask array with one chunk of columns (and the row chunks of `like`)."""
    x = da.asarray(x)
    if x.ndim != 2:
        raise ValueError(f"{name} must be a 2-D array")
    if like is not None:
        if x.shape[0] != like.shape[0]:
            raise ValueError(f"{name} and ObjV disagree in rows")
        return x.rechunk((like.chunks[0], x.shape[1]))
    return x.rechunk({1: x.shape[1]}) if x.numblocks[1] != 1 else x


def _with_rows(x):
    """x without its blocks of no rows (one is kept when x has no rows at all)."""
    sizes = tuple(n for n in x.chunks[0] if n)
    return x if len(sizes) == len(x.chunks[0]) else x.rechunk((sizes or (0,), x.shape[1]))


def _ordered_reduce(x, step):
    """A tree reduction over the row blocks of x by a compiled column fold: `step(block, first)`
    gives a block's row of folds (`first`: the block holds row 0), and the rows of consecutive
    blocks are merged in row order by the same step, as a matrix that begins at row 0."""
    x = _with_rows(x)
    parts = x.map_blocks(lambda b, block_info=None: step(b, block_info[0]["array-location"][0][0] == 0),
                         chunks=((1,) * x.numblocks[0], (x.shape[1],)), dtype=np.float64)

    def merge(p, axis=None, keepdims=None):
        if len(p) == 0:  # Dask's look at the result type
            return p
        row = step(p, True)
        return row if keepdims else row[0]
    return da.reduction(parts, lambda b, axis, keepdims: b, merge, combine=merge, axis=0,
                        concatenate=True, dtype=np.float64, split_every=8, meta=np.empty((0,)))


# ---- the working matrix: maxormins and the feasibility rule ---------------------------------------


def _maxima(work):
    """The column maxima of the feasibility rule over all rows (row 0 first, then only a strictly
    greater value), a lazy vector."""
    return _ordered_reduce(work, lambda b, first: _partial("maxima", b, first))


def _penalised(work, CV):
    """work with the feasibility rule applied by CV (global column maxima, then chunk by chunk)."""
    cv = _rows(CV, "CV", like=work)
    if cv.shape[1] == 0 or work.shape[1] == 0 or work.shape[0] == 0:
        return work
    return da.blockwise(lambda b, c, m: _partial("working", b, None, c, m), "ij", work, "ij", cv, "ik",
                        _maxima(work), "j", dtype=np.float64, concatenate=True)


def _working(ObjV, CV, maxormins):
    """ObjV as float64 times maxormins (as int32), penalised by the feasibility rule with CV."""
    work = _rows(ObjV, "ObjV").astype(np.float64)
    if maxormins is not None:
        m = np.asarray(maxormins)
        if m.ndim != 1 or len(m) != work.shape[1]:
            raise ValueError("maxormins and ObjV disagree")
        work = work.map_blocks(lambda b: _partial("working", b, m), dtype=np.float64)
    return work if CV is None else _penalised(work, CV)


# ---- the ideal point -------------------------------------------------------------------------------


def _ideal_point(work, reverse=False):
    """The column minima (maxima) of work, NaN and ±0 as on one machine, a lazy vector."""
    return _ordered_reduce(work, lambda b, first: _partial("ideal", b, reverse))


def ornavi(ObjV, CV=None, maxormins=None, old_idealPoint=None, reverse=False):
    """The ideal point of ObjV (after maxormins and CV), merged with old_idealPoint if given."""
    reverse = bool(reverse)
    z = _ideal_point(_working(ObjV, CV, maxormins), reverse)
    if old_idealPoint is None:
        return z
    old = np.asarray(old_idealPoint)
    return z.map_blocks(lambda b: _ornavi(b[None, :], old_idealPoint=old, reverse=reverse), dtype=np.float64)


# ---- the aggregations and the other row-wise operators ------------------------------------------


def _aggregation(kernel, ObjV, weights, idealPoint, CV, maxormins, **extra):
    work = _working(ObjV, CV, maxormins)
    if idealPoint is None:
        return _ideal_point(work)
    w = _rows(weights, "weights", like=work)
    z = np.asarray(idealPoint)
    return da.blockwise(lambda o, wb: kernel(o, wb, z, **extra), "ij", work, "ij", w, "ij",
                        adjust_chunks={"j": lambda n: 1}, dtype=np.float64, concatenate=True)


def druvik(ObjV, weights, idealPoint=None, CV=None, maxormins=None, Parallel=False):
    """Chunk-wise druvik; with idealPoint=None the global ideal point, as the one-machine call."""
    return _aggregation(_druvik, ObjV, weights, idealPoint, CV, maxormins, Parallel=Parallel)


def quelan(ObjV, weights, idealPoint=None, CV=None, maxormins=None, Theta=5, Parallel=False):
    """Chunk-wise quelan; with idealPoint=None the global ideal point, as the one-machine call."""
    return _aggregation(_quelan, ObjV, weights, idealPoint, CV, maxormins, Theta=Theta, Parallel=Parallel)


def fendrik(CV, Threshold=None, return_count=False, Parallel=False):
    """Chunk-wise fendrik; with return_count the feasible count summed over all chunks (lazy)."""
    cv = _rows(CV, "CV")
    probe = _fendrik(np.zeros((1, cv.shape[1]), cv.dtype), Threshold, return_count, Parallel)
    flag = np.asarray(probe[0] if return_count else probe)
    flags = cv.map_blocks(lambda b: _fendrik(b, Threshold, False, Parallel), dtype=flag.dtype,
                          chunks=(cv.chunks[0],) + flag.shape[1:], drop_axis=() if flag.ndim == 2 else 1)
    if not return_count:
        return flags
    counts = cv.map_blocks(lambda b: np.array([_fendrik(b, Threshold, True, Parallel)[1]]), drop_axis=1,
                           chunks=((1,) * cv.numblocks[0],), dtype=np.int64)
    return flags, counts.sum(dtype=type(probe[1]) if isinstance(probe[1], np.generic) else None)


def velkor(Phen, FieldD, Parallel=False):
    """Chunk-wise velkor (FieldD goes whole to every chunk)."""
    phen = _rows(Phen, "Phen")
    field = np.asarray(FieldD)
    probe = _velkor(np.asarray(phen[:1].compute()), field, Parallel)
    return phen.map_blocks(lambda b: _velkor(b, field, Parallel), dtype=probe.dtype,
                           chunks=(phen.chunks[0], probe.shape[1:]))


# ---- ulvaro ----------------------------------------------------------------------------------------


def _extreme(col, maximum):
    """np.max or np.min of the column, as ulvaro takes it on the gathered column: the blocks' own
    extremes when the value is one and the same however it is searched for, else the gathered
    column's."""
    col = _with_rows(col)
    parts = col.map_blocks(lambda b: _partial("extreme", b, maximum), chunks=((1,) * col.numblocks[0], (2,)),
                           dtype=np.float64).compute()
    value, sole = _partial("extreme", parts[:, :1], maximum)[0]
    if sole and parts[:, 1].all():
        return value
    return _partial("extreme", col.compute(), maximum)[0, 0]


def ulvaro(ObjV, CV=None, maxormins=None, k=1):
    """ulvaro with the column's global extremes (computed now), the formula applied chunk-wise."""
    objv = _rows(ObjV, "ObjV")
    if objv.shape[1] != 1:
        raise ValueError("ObjV must be an n*1 array")
    m = None if maxormins is None else np.asarray(maxormins)
    work = objv.map_blocks(lambda b: _partial("column", b, m), dtype=np.float64)
    if CV is not None:
        work = _penalised(work, CV)
    # the checks of the one-machine call (and its errors) on the first row
    _ulvaro(np.asarray(objv[:1].compute()), None if CV is None else np.asarray(da.asarray(CV)[:1].compute()),
            maxormins, k)
    work = work.persist()
    first = work[0, 0].compute()
    equal = work.map_blocks(lambda b: np.array([_partial("equal", b, first)]), drop_axis=1,
                            chunks=((1,) * work.numblocks[0],), dtype=bool)
    if bool(equal.all().compute()):
        return da.ones(work.shape, chunks=work.chunks, dtype=np.float64)
    hi = _extreme(work, True)
    lo = _extreme(work.map_blocks(lambda b: _partial("fitness", b, hi), dtype=np.float64), False)
    return work.map_blocks(lambda b: _partial("fitness", b, hi, lo, k), dtype=np.float64)


# ---- polvane ---------------------------------------------------------------------------------------


def _no_single_rows(x):
    sizes = list(x.chunks[0])
    if len(sizes) < 2 or 1 not in sizes:
        return x
    merged = []
    for n in sizes:
        if merged and (n == 1 or merged[-1] == 1):
            merged[-1] += n
        else:
            merged.append(n)
    return x.rechunk((tuple(merged), x.shape[1]))


def polvane(A, B, metric="euclidean", Parallel=False):
    """polvane block by block: result chunks are (A's row chunks) x (B's row chunks)."""
    a, b = _rows(A, "A"), _rows(B, "B")
    if metric == "cosine":  # a one-row operand takes the kernel's vector path: no one-row blocks
        a, b = _no_single_rows(a), _no_single_rows(b)
    return da.blockwise(lambda x, y: _polvane(x, y, metric, Parallel), "ij", a, "ik", b, "jk",
                        dtype=np.float64, concatenate=True)


# ---- tamsen ----------------------------------------------------------------------------------------


def tamsen(Nind, FieldDR, Parallel=False, *, chunks=1_000_000):
    """The matrix of tamsen(Nind, FieldDR, Parallel=True), drawn `chunks` rows per task."""
    randDelta = _tamsen_rows(Nind, FieldDR, Parallel)  # the checks and the one draw
    field = np.ascontiguousarray(FieldDR)
    integer = bool((field[2, :].astype(np.int32) == 1).all()) if field.shape[1] else True
    dtype = np.int32 if integer else np.float64
    sizes = da.core.normalize_chunks((chunks, -1), (Nind, field.shape[1]))
    starts = np.cumsum((0,) + sizes[0][:-1])
    blocks = [da.from_delayed(dask.delayed(_tamsen_rows)(n, field, Parallel, randDelta, int(r0)),
                              (n, field.shape[1]), dtype=dtype) for r0, n in zip(starts, sizes[0])]
    return da.concatenate(blocks, axis=0)
