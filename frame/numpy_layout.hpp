// What the frame knows of NumPy's objects in memory, all of it: the leading fields of an array and
// of a dtype (read directly for exact ndarrays, instead of exporting a buffer), the numbers that
// name their flags and element types, and the smallest instance size of each NumPy type that
// module execution checks.
//
// Every size here is counted beyond the object header, whose size is the running interpreter's
// (`object.__basicsize__`: 16 bytes with the interpreter lock, 32 on a free-threaded build); the
// fields below follow a header of the size that this build's interpreter headers give, and
// `layout_matches` checks them once, at module execution, against an array the running NumPy made.
#pragma once

#include "frame.hpp"

namespace evo::numpy_layout {

// The leading fields of an ndarray, alike in every NumPy 1.x and 2.x.
struct ArrayFields {
    PyObject_HEAD
    char* data;
    int nd;
    Py_ssize_t* dimensions;
    Py_ssize_t* strides;
    PyObject* base;
    PyObject* descr;
    int flags;
    PyObject* weakreflist;
};

// The leading fields of a dtype, alike in every NumPy 1.x and 2.x.
struct DescrFields {
    PyObject_HEAD
    PyTypeObject* typeobj;
    char kind, type, byteorder, unused;
    int type_num;
};

inline constexpr int kCContiguous = 0x0001, kWriteable = 0x0400;  // array flags
inline constexpr int kDouble = 12, kInt = 5, kLong = 7;             // type numbers

// What module execution asks of a NumPy type whose instances are larger than built for.
enum class Larger { Warn, Accept };

struct TypeSize {
    const char* name;
    Py_ssize_t beyond_header;  // the smallest instance size of any NumPy 1.x or 2.x, less the header
    Larger larger;
};

// In the order they are checked.  `broadcast` grew when NumPy 2 doubled its argument limit and is
// accepted when larger, as dtype and ndarray are.
inline constexpr TypeSize kTypes[] = {
    {"dtype", 72, Larger::Accept},   {"flatiter", 2616, Larger::Warn}, {"broadcast", 544, Larger::Accept},
    {"ndarray", 64, Larger::Accept}, {"ufunc", 200, Larger::Warn},
};
inline constexpr int kNdarray = 3;  // kTypes[kNdarray] is numpy.ndarray

static_assert(sizeof(ArrayFields) - sizeof(PyObject) <= 64, "the fields read lie inside every ndarray");
static_assert(sizeof(DescrFields) - sizeof(PyObject) <= 72, "the fields read lie inside every dtype");

// The running interpreter's object header: the instance size of `object`.
inline Py_ssize_t header_size() noexcept { return PyBaseObject_Type.tp_basicsize; }

inline const ArrayFields& fields(PyObject* exact) noexcept { return *reinterpret_cast<const ArrayFields*>(exact); }
inline const DescrFields& descr_fields(PyObject* descr) noexcept {
    return *reinterpret_cast<const DescrFields*>(descr);
}

// True when the fields above describe `probe`, a new 2 x 3 float64 ndarray, as its buffer export
// does (data, dimensions, element type, flags); a mismatch leaves every array to the buffer
// protocol.  Throws only when the export itself fails.
bool layout_matches(PyObject* probe);

}  // namespace evo::numpy_layout
