"""Hypothesis strategies of the fuzz suite: arrays of every dtype, layout and subclass, values of
the wrong kind for any parameter, and the argument lists of each function."""

import fractions
import math

import numpy as np
from hypothesis import strategies as st

# ---- array types that misbehave ------------------------------------------------------------------


class _Quiet(np.ndarray):
    """Shows its values as a plain array would, whatever its attributes claim."""

    def __repr__(self):
        return f"{type(self).__name__}({np.ndarray.__repr__(self.view(np.ndarray))})"


class SelfCopy(_Quiet):
    """copy() hands back the array itself."""

    def copy(self, *args, **kwargs):
        return self


class SelfAstype(SelfCopy):
    """astype() also hands back the array itself, whatever type is asked for."""

    def astype(self, *args, **kwargs):
        return self


class LyingShape(_Quiet):
    """`shape` claims one row more than the buffer holds."""

    @property
    def shape(self):
        s = np.ndarray.shape.__get__(self)
        return (s[0] + 1, *s[1:]) if s else s


class LyingLayout(_Quiet):
    """`flags` claims C-contiguity and `dtype` float64, whatever the buffer is."""

    @property
    def flags(self):
        return {"C_CONTIGUOUS": True, "F_CONTIGUOUS": False, "WRITEABLE": True, "ALIGNED": True}

    @property
    def dtype(self):
        return np.dtype(np.float64)


class FinalizeRaises(_Quiet):
    """Every array NumPy derives from an armed instance (astype, reductions, ...) raises."""

    def __array_finalize__(self, obj):
        if getattr(obj, "armed", False):
            raise ZeroDivisionError("derived array refused")


SUBCLASSES = (np.matrix, SelfCopy, SelfAstype, LyingShape, LyingLayout, FinalizeRaises)
# Subclasses whose attributes tell the truth about the data: a call that succeeds on one must
# give the result of the plain array with the same data.
HONEST = (np.ndarray, SelfCopy, SelfAstype, LyingLayout, FinalizeRaises)


class Shaped:
    """Not an array, but has a `shape`."""

    def __init__(self, shape):
        self.shape = shape

    def __repr__(self):
        return f"Shaped({self.shape!r})"


class Refuse:
    """An object that cannot be a truth value."""

    def __bool__(self):
        raise ZeroDivisionError("no truth value")


class WeirdFloat(float):
    """A float whose comparisons cannot be used as truth values and whose float() fails."""

    __lt__ = __le__ = __gt__ = __ge__ = __eq__ = __ne__ = lambda self, other: Refuse()
    __hash__ = float.__hash__

    def __float__(self):
        raise OverflowError("no float for you")


class WeirdInt(int):
    """An int whose comparisons, float() and index() fail."""

    __lt__ = __le__ = __gt__ = __ge__ = __eq__ = __ne__ = lambda self, other: Refuse()
    __hash__ = int.__hash__

    def __float__(self):
        raise OverflowError("no float for you")

    def __index__(self):
        raise TypeError("no index for you")


class WeirdStr(str):
    """A string whose comparisons raise."""

    def __eq__(self, other):
        raise ValueError("not comparable")

    __ne__ = __eq__
    __hash__ = str.__hash__


class FloatSub(float):
    pass


class IntSub(int):
    pass


class KeyName(str):
    """A keyword name that is a subclass of str."""


# ---- element values --------------------------------------------------------------------------------
# Values come from a NumPy generator seeded by one drawn integer: an array costs one draw, not one
# per element.  Shapes, dtypes, layouts and kinds of argument stay drawn (and shrink).

NAN = float("nan")
INF = float("inf")
SPECIAL_FLOATS = np.array([0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 3.0, -2.5, 10.0, 1e-300, 5e-324, 2.2250738585072014e-308,
                           1e300, -1e300, 1.7976931348623157e308, 65504.0, 2.0**31, -(2.0**31), 2.0**53,
                           NAN, -NAN, INF, -INF])
OBJECTS = [2**70, -(2**70), 2**63, 10**400, None, "1.5", "x", True, complex(1, 2), fractions.Fraction(1, 3)]

INTS = [np.int8, np.int16, np.int32, np.int64, np.uint8, np.uint16, np.uint32, np.uint64]
FLOATS = [np.float16, np.float32, np.float64, np.longdouble]
COMPLEX = [np.complex64, np.complex128]
DTYPES = [np.bool_, *INTS, *FLOATS, *COMPLEX, np.object_]
seeds = st.integers(0, 2**32 - 1)


def _floats(rng, n):
    """Awkward floats: the special values, small integers, ordinary values and arbitrary bit
    patterns (NaNs with payloads, subnormals, huge values)."""
    pick = rng.integers(0, 4, n)
    special = SPECIAL_FLOATS[rng.integers(0, len(SPECIAL_FLOATS), n)]
    small = rng.integers(-4, 5, n).astype(float)
    plain = rng.uniform(-10, 10, n)
    bits = rng.integers(0, 2**64, n, dtype=np.uint64, endpoint=False).view(np.float64)
    return np.choose(pick, [special, small, plain, bits])


def _pool(rng, dtype, n):
    """n values of `dtype`, with its extremes and the awkward floats."""
    if dtype.kind == "b":
        return rng.integers(0, 2, n).astype(bool)
    if dtype.kind in "iu":
        info = np.iinfo(dtype)
        pick = rng.integers(0, 3, n)
        small = rng.integers(max(int(info.min), -4), 9, n).astype(dtype)
        ends = np.array([info.min, info.max], dtype=dtype)[rng.integers(0, 2, n)]
        full = rng.integers(int(info.min), int(info.max), n, dtype=dtype, endpoint=True)
        return np.choose(pick, [small, ends, full]).astype(dtype)
    with np.errstate(all="ignore"):
        if dtype.kind == "f":
            return _floats(rng, n).astype(dtype)
        if dtype.kind == "c":
            return (_floats(rng, n) + 1j * _floats(rng, n)).astype(dtype)
    out = np.empty(n, dtype=object)
    pick = rng.integers(0, 3, n)
    numbers, ints = _floats(rng, n), rng.integers(-4, 9, n)
    for i in range(n):
        out[i] = (float(numbers[i]), int(ints[i]), OBJECTS[int(rng.integers(0, len(OBJECTS)))])[pick[i]]
    return out


def fill(rng, dtype, shape, values=None):
    """An array of `shape` and `dtype`: about half its elements from the list `values` (cast as
    NumPy casts), the rest from the awkward values of its dtype."""
    dtype = np.dtype(dtype)
    n = math.prod(shape)
    a = _pool(rng, dtype, n)
    if values is not None and n:
        mine = rng.integers(0, 2, n).astype(bool)
        chosen = [values[k] for k in rng.integers(0, len(values), n)]
        with np.errstate(all="ignore"):
            preferred = np.array(chosen, dtype=object if dtype == object else np.float64)
            a[mine] = preferred[mine] if dtype == object else preferred[mine].astype(dtype)
    return a.reshape(shape)


LAYOUTS = ("C", "F", "strided", "reversed", "unaligned", "broadcast")


def lay_out(a, layout):
    """The values of `a` in another memory layout (a broadcast keeps only the first element)."""
    shape, dtype = a.shape, a.dtype
    full = (slice(None),) * a.ndim
    if a.ndim == 0:
        return a.copy()
    if layout == "F":
        return np.asfortranarray(a)
    if layout == "strided":
        big = np.zeros(tuple(2 * n + 1 for n in shape), dtype=dtype)
        view = big[tuple(slice(1, None, 2) for _ in shape)]
        view[full] = a
        return view
    if layout == "reversed":
        flip = (slice(None, None, -1),) * a.ndim
        return a[flip].copy()[flip]
    if layout == "unaligned" and dtype != object:
        raw = np.zeros(a.nbytes + 1, dtype=np.uint8)
        view = raw[1:].view(dtype).reshape(shape)
        view[full] = a
        return view
    if layout == "broadcast" and a.size:
        return np.broadcast_to(a.reshape(-1)[:1].reshape((1,) * a.ndim), shape)
    return a.copy()


@st.composite
def arrays(draw, shape, dtype=np.float64, values=None):
    """An array of `shape`: mostly of `dtype`, else of any dtype; its values partly from the list
    `values`, partly the awkward ones of its dtype; then a layout, maybe read-only, maybe a
    subclass.  Shapes with a dimension past 32 bits come as empty arrays (no memory) when they
    have no elements, and otherwise as a small array of the wrong shape."""
    shape = tuple(shape)
    dtype = np.dtype(draw(st.one_of(st.just(dtype), st.sampled_from(DTYPES))))
    if max(shape, default=0) > 64:
        if math.prod(shape) == 0:
            if draw(st.booleans()):
                return np.empty(shape, dtype=dtype)
            return np.broadcast_to(np.zeros((), dtype=dtype), shape)
        shape = tuple(2 if n > 64 else n for n in shape)
    return dress(draw, fill(np.random.default_rng(draw(seeds)), dtype, shape, values))


def dress(draw, a):
    """`a` in a drawn layout, maybe read-only, maybe viewed as an ndarray subclass."""
    a = lay_out(a, draw(st.one_of(st.just("C"), st.sampled_from(LAYOUTS))))
    if draw(st.integers(0, 3)) == 3 and a.flags.writeable:
        a.setflags(write=False)
    cls = draw(st.one_of(st.just(None), st.just(None), st.sampled_from(SUBCLASSES)))
    if cls is np.matrix and a.ndim not in (1, 2):
        cls = None
    if cls is not None:
        a = a.view(cls)
        if cls is FinalizeRaises:
            a.armed = True
    return a


# ---- values of the wrong kind ----------------------------------------------------------------------


def _made(*makers):
    """Fresh objects on every draw (nothing is shared between examples)."""
    return st.sampled_from(makers).map(lambda make: make())


huge_empty = _made(
    lambda: np.empty((0, 2**31)),
    lambda: np.empty((2**31, 0)),
    lambda: np.empty((0, 2**32 + 3), dtype=np.int32),
    lambda: np.empty((2**33, 0), dtype=np.float32),
    lambda: np.broadcast_to(np.float64(1.0), (2**40, 0)),
    lambda: np.empty((0,)),
)

scalars = _made(
    lambda: None, lambda: True, lambda: False, lambda: 0, lambda: 1, lambda: -1, lambda: 2,
    lambda: 2**31, lambda: 2**70, lambda: -(2**70), lambda: 10**400, lambda: 0.5, lambda: NAN,
    lambda: INF, lambda: -0.0, lambda: 1e300, lambda: complex(1, 1), lambda: fractions.Fraction(1, 3),
    lambda: "", lambda: "abc", lambda: "euclidean", lambda: b"x", lambda: (), lambda: [], lambda: {},
    lambda: object(), lambda: Ellipsis, lambda: Refuse(),
    lambda: WeirdFloat(2.0), lambda: WeirdInt(3), lambda: WeirdStr("cosine"), lambda: FloatSub(2.5),
    lambda: IntSub(2), lambda: Shaped((2, 3)), lambda: Shaped((2**70, 1)), lambda: Shaped(("a", 2)),
    lambda: Shaped(None), lambda: Shaped((3,)),
)

numpy_scalars = _made(
    lambda: np.float64(1.5), lambda: np.float64(NAN), lambda: np.float32(2.0), lambda: np.float16(-0.0),
    lambda: np.longdouble(3), lambda: np.int64(3), lambda: np.int32(-1), lambda: np.uint8(1),
    lambda: np.int64(2**62), lambda: np.bool_(True), lambda: np.bool_(False), lambda: np.complex128(1j),
    lambda: np.str_("cityblock"), lambda: np.array(1.5), lambda: np.array(3), lambda: np.array(True),
    lambda: np.array(None, dtype=object), lambda: np.array("euclidean"),
)

ndims = st.integers(0, 3)
dims = st.one_of(st.integers(0, 3), st.integers(0, 8))


@st.composite
def any_array(draw):
    shape = draw(st.lists(dims, min_size=draw(ndims), max_size=3))
    return draw(arrays(shape))


@st.composite
def buffers(draw):
    """A memoryview of an array: a shape and a buffer, but no ndarray."""
    a = np.ascontiguousarray(draw(any_array()))
    return memoryview(np.zeros(a.shape) if a.dtype == object else a)


lists = st.one_of(
    st.lists(st.sampled_from([float(x) for x in SPECIAL_FLOATS]), max_size=4),
    st.lists(st.lists(st.integers(-2, 3), min_size=2, max_size=2), max_size=3),
    st.tuples(st.integers(-2, 3), st.integers(-2, 3)),
)

wild = st.one_of(scalars, numpy_scalars, lists, any_array(), huge_empty, buffers())

# ---- parameters and their awkward values ------------------------------------------------------------

OMIT = type("Omit", (), {"__repr__": lambda self: "<omitted>"})()
absent = st.sampled_from([OMIT, None])
switch = st.one_of(st.sampled_from([OMIT, None, True, False]), _made(
    lambda: 0, lambda: 1, lambda: np.bool_(True), lambda: "True", lambda: 1.0, lambda: None))


def maybe_wild(draw, strategy, odds=10):
    """Mostly a value of `strategy`; one time in `odds` a value of the wrong kind."""
    if draw(st.integers(0, odds - 1)) == odds - 1:
        return draw(wild)
    return draw(strategy)


def optional(draw, strategy):
    """Left out or None one time in three, else a value of `strategy`; now and then wrong."""
    if draw(st.integers(0, 2)) == 0:
        return draw(absent)
    return maybe_wild(draw, strategy)


def size_near(draw, n):
    """Mostly `n`, sometimes a neighbour (a shape that does not match)."""
    if draw(st.integers(0, 7)) == 7:
        return draw(st.sampled_from([max(n - 1, 0), n + 1, 0]))
    return n


@st.composite
def main_dims(draw):
    """Rows and columns of the principal matrix; now and then one of them is past 32 bits and
    the other is 0."""
    rows, cols = draw(dims), draw(dims)
    if draw(st.integers(0, 24)) == 24:
        huge = draw(st.sampled_from([2**31, 2**32 + 1, 2**40]))
        rows, cols = draw(st.sampled_from([(huge, 0), (0, huge)]))
    return rows, cols


DIRECTIONS = [1, -1, 0, 2]
VIOLATIONS = [0.0, -1.0, 0.5, 0.25, 2.0, -3.0]
WEIGHTS = [0.0, 0.5, 1.0, 0.1, 2.0]

# ---- argument lists of each function ------------------------------------------------------------------
# Each strategy gives a list of (parameter, value) in declaration order; OMIT leaves a parameter out.

theta = st.one_of(st.sampled_from([OMIT, None, 5, 5.0, 0.1, 1, True, False, 0, -1, NAN, INF, 1e300, 1e-45, 2**70, 10**400]),
                  _made(lambda: FloatSub(2.5), lambda: IntSub(3), lambda: np.float64(3.0), lambda: np.float32(3.0),
                        lambda: np.int64(2), lambda: "5", lambda: WeirdFloat(2.0), lambda: WeirdInt(2)))


@st.composite
def aggregation_args(draw, name):
    N, M = draw(main_dims())
    K = draw(dims) if N == 1 else size_near(draw, N)
    values = [
        ("ObjV", maybe_wild(draw, arrays((N, M)))),
        ("weights", maybe_wild(draw, arrays((K, size_near(draw, M)), values=WEIGHTS))),
        ("idealPoint", optional(draw, arrays((size_near(draw, M),)))),
        ("CV", optional(draw, arrays((size_near(draw, N), draw(dims)), values=VIOLATIONS))),
        ("maxormins", optional(draw, arrays((size_near(draw, M),), np.int32, DIRECTIONS))),
    ]
    if name == "quelan":
        values.append(("Theta", maybe_wild(draw, theta)))
    values.append(("Parallel", maybe_wild(draw, switch)))
    return values


@st.composite
def ornavi_args(draw):
    N, M = draw(main_dims())
    return [
        ("ObjV", maybe_wild(draw, arrays((N, M)))),
        ("CV", optional(draw, arrays((size_near(draw, N), draw(dims)), values=VIOLATIONS))),
        ("maxormins", optional(draw, arrays((size_near(draw, M),), np.int32, DIRECTIONS))),
        ("old_idealPoint", optional(draw, arrays((size_near(draw, M),)))),
        ("reverse", maybe_wild(draw, switch)),
    ]


thresholds = st.one_of(
    st.sampled_from([OMIT, None, 0.0, 1.0, -1.0, 0.5, 0, 2, True, False, NAN, INF, -INF, 2**70, 10**400]),
    _made(lambda: np.float64(0.25), lambda: FloatSub(1.5), lambda: IntSub(1), lambda: np.int64(1),
          lambda: np.float32(1.0), lambda: WeirdFloat(1.0), lambda: WeirdInt(1), lambda: "1"))
threshold_dtypes = st.sampled_from([np.int32, np.int64, np.float32, np.float64])


@st.composite
def fendrik_args(draw):
    N, C = draw(main_dims())
    if draw(st.integers(0, 2)) == 2:
        threshold = draw(arrays((size_near(draw, C),), draw(threshold_dtypes), values=VIOLATIONS))
    else:
        threshold = draw(thresholds)
    return [
        ("CV", maybe_wild(draw, arrays((N, C), values=VIOLATIONS))),
        ("Threshold", maybe_wild(draw, st.just(threshold))),
        ("return_count", maybe_wild(draw, switch)),
        ("Parallel", maybe_wild(draw, switch)),
    ]


exponents = st.one_of(st.sampled_from([OMIT, None, 1, 2, 0.5, 3.0, True, False, 0, -1.5, NAN, INF, 1e-300, 2**70, 10**400]),
                      _made(lambda: np.float64(2.0), lambda: np.int64(2), lambda: np.array(2.0), lambda: "2",
                            lambda: FloatSub(0.5), lambda: IntSub(3), lambda: WeirdFloat(2.0), lambda: WeirdInt(2)))


@st.composite
def ulvaro_args(draw):
    N, M = draw(main_dims())
    if M <= 64 and draw(st.integers(0, 3)) != 3:
        M = 1
    return [
        ("ObjV", maybe_wild(draw, arrays((N, M)))),
        ("CV", optional(draw, arrays((size_near(draw, N), draw(dims)), values=VIOLATIONS))),
        ("maxormins", optional(draw, arrays((size_near(draw, 1),), np.int32, DIRECTIONS))),
        ("k", maybe_wild(draw, exponents)),
    ]


def _pick(rng, choices, n):
    return np.array(choices, dtype=float)[rng.integers(0, len(choices), n)]


def _with_rows(a, rows):
    """`a` with `rows` rows (its rows repeated or cut) when that differs from its own count."""
    return a if rows == a.shape[0] else np.resize(a, (rows, a.shape[1]))


matrix_dtypes = st.sampled_from([np.float64, np.float64, np.int64, np.int32, np.float32, np.int8, np.object_])


@st.composite
def field_d(draw, nvar):
    """An 8-row decoding matrix: lengths, bounds, codes, scales, bound inclusion, variable types."""
    rng = np.random.default_rng(draw(seeds))
    lb = np.where(rng.integers(0, 2, nvar) == 0, _pick(rng, [0.0, -1.0, 1.0, -10.0, 5.0], nvar), _floats(rng, nvar))
    with np.errstate(all="ignore"):
        width = _pick(rng, [1.0, 10.0, 0.0, 7.0, -1.0], nvar)
        ub = np.where(rng.integers(0, 3, nvar) == 0, _floats(rng, nvar), lb + width)
    a = np.array([
        np.where(rng.integers(0, 3, nvar) == 0, _pick(rng, [0, 1, 30, 31, 32, -1, -3, 2**31 - 1], nvar),
                 rng.integers(0, 9, nvar)),
        lb, ub,
        _pick(rng, [0, 1, 2], nvar),
        np.where(rng.integers(0, 2, nvar) == 0, _pick(rng, [0.0, 1.0], nvar), _floats(rng, nvar)),
        _pick(rng, [0, 1, 1, 2], nvar),
        _pick(rng, [0, 1, 1, -1], nvar),
        _pick(rng, [0, 1, 3], nvar),
    ], dtype=np.float64).reshape(8, nvar)
    with np.errstate(all="ignore"):
        a = _with_rows(a, size_near(draw, 8)).astype(draw(matrix_dtypes))
    return dress(draw, a)


@st.composite
def velkor_args(draw):
    N, V = draw(main_dims())
    return [
        ("Phen", maybe_wild(draw, arrays((N, V), values=[0.0, 5.0, 10.0, 7.0, 3.0, -1.0]))),
        ("FieldD", maybe_wild(draw, field_d(size_near(draw, V if V <= 64 else 0)))),
        ("Parallel", maybe_wild(draw, switch)),
    ]


@st.composite
def field_dr(draw, cols):
    """A 3-row matrix of lower bounds, upper bounds and variable types."""
    rng = np.random.default_rng(draw(seeds))
    lb = np.where(rng.integers(0, 2, cols) == 0, _pick(rng, [0.0, 1.0, -3.0, 0.5], cols), _floats(rng, cols))
    with np.errstate(all="ignore"):
        ub = np.where(rng.integers(0, 3, cols) == 0, _floats(rng, cols), lb + _pick(rng, [1.0, 10.0, 0.0, -2.0], cols))
    a = np.array([lb, ub, _pick(rng, [0, 1, 1, 2, -1], cols)], dtype=np.float64).reshape(3, cols)
    with np.errstate(all="ignore"):
        a = _with_rows(a, size_near(draw, 3)).astype(draw(matrix_dtypes))
    return dress(draw, a)


populations = st.one_of(
    st.integers(1, 8), st.sampled_from([0, -3, True, False, 5.0, 2**31, 2**32 + 1, 2**40, 2**70]),
    _made(lambda: np.int64(3), lambda: IntSub(2), lambda: WeirdInt(2), lambda: "3", lambda: None))


@st.composite
def tamsen_args(draw):
    nind = maybe_wild(draw, populations)
    # a population past 32 bits comes with no columns, or is too large for any allocation: never
    # a matrix that the machine could actually hold and fill
    held = type(nind) is int and 2**20 < nind < 2**40
    fdr = draw(field_dr(0)) if held else maybe_wild(draw, field_dr(draw(dims)))
    return [("Nind", nind), ("FieldDR", fdr), ("Parallel", maybe_wild(draw, switch))]


@st.composite
def chromosomes(draw, rows, cols):
    """Rows that are permutations of a few gene values (now and then one repeats), as some dtype."""
    rng = np.random.default_rng(draw(seeds))
    base = draw(st.sampled_from([0, 1, -5, 1000, 2**20, 2**31 - 12, -(2**31)]))
    spread = draw(st.sampled_from([1, 1, 1, 2, 2**29]))
    pool = [g for g in (base + spread * k for k in range(cols + draw(st.integers(0, 3)))) if -(2**31) <= g < 2**31]
    pool += [base] * (cols - len(pool))  # too few distinct genes: rows repeat one
    a = np.array([rng.permutation(pool)[:cols] for _ in range(rows)], dtype=np.int64).reshape(rows, cols)
    if a.size and draw(st.integers(0, 7)) == 7:
        a.flat[int(rng.integers(0, a.size))] = a.flat[0]
    dtype = draw(st.sampled_from([np.int32, np.int32, np.int64, np.float64, np.float32, np.int16, np.uint8,
                                  np.object_, np.bool_]))
    with np.errstate(all="ignore"):
        a = a.astype(dtype)
        if dtype == np.float64 and draw(st.integers(0, 7)) == 7:
            a = a + draw(st.sampled_from([0.5, -0.5, NAN, INF]))
    return dress(draw, a)


crossover_rates = st.one_of(st.sampled_from([OMIT, None, 0.7, 0.0, 1.0, 0.5, -0.1, 1.5, NAN, INF, True, 0, 1, 10**400]),
                            _made(lambda: np.float64(0.3), lambda: "0.5", lambda: WeirdFloat(0.5), lambda: FloatSub(0.2)))
mating = st.one_of(st.sampled_from([OMIT, None, False, True, 1, 2, 3, 5, 10, 0, -3, 2.0, 2**31, 2**70]),
                   _made(lambda: np.int64(2), lambda: "2", lambda: IntSub(2), lambda: WeirdInt(2), lambda: np.bool_(True)))


@st.composite
def sarnet_args(draw):
    N, L = draw(main_dims())
    chrom = draw(chromosomes(N, L)) if max(N, L) <= 64 else draw(arrays((N, L), np.int32))
    return [
        ("OldChrom", maybe_wild(draw, st.just(chrom))),
        ("XOVR", maybe_wild(draw, crossover_rates)),
        ("Half_N", maybe_wild(draw, mating)),
        ("Parallel", maybe_wild(draw, switch)),
        ("params4", draw(st.one_of(st.just(OMIT), wild))),
    ]


METRICS = ["euclidean", "cityblock", "cosine", "cosine_similarity"]
metrics = st.one_of(st.sampled_from([OMIT, *METRICS, *METRICS, "Euclidean", "", None, 3, b"euclidean"]),
                    _made(lambda: np.str_("cosine"), lambda: WeirdStr("euclidean"), lambda: KeyName("cityblock"),
                          lambda: np.array(["euclidean"]), lambda: np.array(["cosine", "x"])))


@st.composite
def polvane_args(draw):
    ra, cols = draw(main_dims())
    a = maybe_wild(draw, arrays((ra, cols)))
    b = a if draw(st.integers(0, 3)) == 0 else maybe_wild(draw, arrays((draw(dims), size_near(draw, cols))))
    return [("A", a), ("B", b), ("metric", maybe_wild(draw, metrics)), ("Parallel", maybe_wild(draw, switch))]


OBJECTIVES = [0.0, 1.0, 2.0, 3.0, -0.0, -1.0, INF, NAN]
need_nums = st.one_of(st.sampled_from([OMIT, None, 1, 2, 3, 0, -1, 9, True, 2.0, 2**70]),
                      _made(lambda: np.int64(2), lambda: np.bool_(True), lambda: IntSub(1), lambda: WeirdInt(1),
                            lambda: "1"))


@st.composite
def ndsort_args(draw):
    N, M = draw(main_dims())
    return [
        ("ObjV", maybe_wild(draw, arrays((N, M), values=OBJECTIVES))),
        ("CV", optional(draw, arrays((size_near(draw, N), draw(dims)), values=VIOLATIONS))),
        ("maxormins", optional(draw, arrays((size_near(draw, M),), np.int32, DIRECTIONS))),
        ("needNum", maybe_wild(draw, need_nums)),
        ("Parallel", maybe_wild(draw, switch)),
    ]


@st.composite
def crowding_args(draw):
    N, M = draw(main_dims())
    return [
        ("ObjV", maybe_wild(draw, arrays((N, M), values=OBJECTIVES))),
        ("levels", maybe_wild(draw, arrays((size_near(draw, N),), values=[1.0, 1.0, 2.0, 3.0, INF, NAN]))),
    ]


@st.composite
def associate_args(draw):
    N, M = draw(main_dims())
    return [
        ("ObjV", maybe_wild(draw, arrays((N, M), values=OBJECTIVES))),
        ("refpoints", maybe_wild(draw, arrays((draw(dims), size_near(draw, M)), values=[0.0, 1.0, 0.5, 2.0]))),
    ]


ARGUMENTS = {
    "druvik": aggregation_args("druvik"),
    "quelan": aggregation_args("quelan"),
    "ornavi": ornavi_args(),
    "fendrik": fendrik_args(),
    "ulvaro": ulvaro_args(),
    "velkor": velkor_args(),
    "tamsen": tamsen_args(),
    "sarnet": sarnet_args(),
    "polvane": polvane_args(),
    "ndsort": ndsort_args(),
    "crowding": crowding_args(),
    "associate": associate_args(),
    "build": st.just([]),
}


# ---- the private steps of evocore.algorithms ------------------------------------------------------------


def _arg(draw, shape, values=None, dtype=np.float64, fit=False):
    """Mostly a plain C-ordered array of `shape` with values from `values` and [0, 1); unless
    `fit`, now and then a neighbouring shape, an array of any kind and layout, or a wild value."""
    if not fit:
        shape = [size_near(draw, n) for n in shape]
    kind = 0 if fit else draw(st.integers(0, 7))
    if kind < 6:
        rng = np.random.default_rng(draw(seeds))
        a = rng.random(shape)
        if values:
            a = np.where(rng.random(shape) < 0.5, rng.choice(values, shape), a)
        return a.astype(dtype)
    return draw(arrays(shape, dtype, values)) if kind == 6 else draw(wild)


@st.composite
def private_step_args(draw):
    """(module name, positional arguments) of a call of _variation or _selection: in half of the
    calls shapes that fit together (with values that may still be out of range), in the others
    now and then a shape that does not fit or a value of the wrong kind."""
    n, d, k = draw(dims), draw(dims), draw(dims)
    fit = draw(st.booleans())

    def arg(shape, values=None, dtype=np.float64):
        return _arg(draw, shape, values, dtype, fit)

    def value(strategy):
        return draw(strategy) if fit else maybe_wild(draw, strategy)
    step = draw(st.sampled_from(["sbx", "mutation", "offspring", "tournament", "order", "niching"]))
    if step in ("sbx", "mutation", "offspring"):
        rows = draw(st.integers(0, 2 * n) if fit else st.integers(-1, 2 * n + 1))
        rand = {"sbx": (n, 3 * d + 1), "mutation": (n, 2 * d), "offspring": (n * (3 * d + 1) + max(rows, 0) * 2 * d,)}
        args = [step, arg((n, d), [0.0, 1.0]), None if step == "mutation" else arg((n, d), [0.0, 1.0]),
                arg((d,), [0.0, -1.0]), arg((d,), [1.0, 2.0]), arg(rand[step], [0.0, 0.5, 0.99]),
                value(st.sampled_from([0, 15, 20, 1000])), value(st.sampled_from([0.0, 0.9, 1.0]))]
        if step == "offspring":
            args += [value(st.sampled_from([0, 20])), value(st.just(rows))]
        return "_variation", args
    if step == "tournament":
        rounds = draw(st.integers(0, 2))
        return "_selection", [step, arg((rounds, n)), arg((n,), [0.0, 1.0]), arg((n, d), [0.0, 1.0]), arg((n,)),
                              value(st.integers(0, rounds * n // 2))]
    if step == "order":
        return "_selection", [step, arg((n,), [1.0, 2.0, INF]), arg((n,), [0.0, INF, NAN]), arg((n,)),
                              value(st.integers(0, n))]
    return "_selection", [step, value(st.integers(0, n)), arg((k,), [0.0, 1.0, 2.0]),
                          arg((n,), list(range(max(k, 1))), np.int64), arg((n,)), arg((n + k,))]
