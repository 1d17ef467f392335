// The module frame: everything an evocore extension module shares with the others.
//
// A module describes itself with one `evo::Module` (name, parameters and defaults, messages,
// built-ins, docstring and the body of its one function) and exports it with EVOCORE_MODULE.
// The frame does the rest: multi-phase initialisation, argument binding, the traceback entry of
// a failing call and the translation of C++ failures into Python exceptions.
//
// Inside a function body every failure is a C++ exception: a Python exception is set first, then
// `evo::PyException` is thrown and caught at the function boundary.  Bodies therefore read as a
// straight sequence of checks, and every reference they hold is released on the way out.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "forms.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace evo {

// ---------------------------------------------------------------------------------------------
// Errors

// A Python exception is pending; unwinds to the function boundary.
struct PyException {};

[[noreturn]] inline void rethrow() { throw PyException{}; }

// A new reference, or the pending exception.
inline PyObject* check(PyObject* p) {
    if (p == nullptr) rethrow();
    return p;
}

// A C-API status (-1 on failure) or truth value (-1 on failure).
inline int check(int status) {
    if (status < 0) rethrow();
    return status;
}

// Raises the module's RuntimeError with message `msg` (an index into Module::messages).
[[noreturn]] void fail(int msg);

// ---------------------------------------------------------------------------------------------
// Owning reference

class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}
    ~Ref() { Py_XDECREF(p_); }
    Ref(const Ref& o) noexcept : p_(o.p_) { Py_XINCREF(p_); }
    Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    Ref& operator=(Ref o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }

    // Takes over a new reference; throws when it is null (the call that made it failed).
    static Ref steal(PyObject* p) { return Ref(check(p)); }
    // Takes over a reference that may be null without an error (optional look-ups).
    static Ref steal_or_null(PyObject* p) noexcept { return Ref(p); }
    // Adds a reference to a borrowed object.
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    bool is_none() const noexcept { return p_ == Py_None; }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// An object that every call shares, made on first use and kept for the life of the process
//
// Without an interpreter lock (a free-threaded build) two threads may make it at once: each makes
// its own, the first one stored is the one every call uses and the other is released.  A call
// borrows it: its reference count is never touched after that, so threads do not contend for it.

class Shared {
public:
    constexpr Shared() noexcept = default;

    // The object; `make()` gives a new reference (null with an exception set) the first time.
    template <class Make>
    PyObject* get(Make&& make) {
        PyObject* p = p_.load(std::memory_order_acquire);
        return p != nullptr ? p : keep(check(make()));
    }

private:
    PyObject* keep(PyObject* made) noexcept {
        PyObject* kept = nullptr;
        if (p_.compare_exchange_strong(kept, made, std::memory_order_acq_rel)) return made;
        Py_DECREF(made);
        return kept;
    }
    std::atomic<PyObject*> p_{nullptr};
};

// An interned attribute name, made on first use and kept for the life of the process.
class Name {
public:
    constexpr explicit Name(const char* text) : text_(text) {}
    PyObject* get() {
        return p_.get([this] { return PyUnicode_InternFromString(text_); });
    }

private:
    const char* text_;
    Shared p_;
};

// ---------------------------------------------------------------------------------------------
// Small object protocol helpers (all throw on failure)

inline Ref getattr(PyObject* o, PyObject* name) { return Ref::steal(PyObject_GetAttr(o, name)); }
inline Ref getitem(PyObject* o, PyObject* key) { return Ref::steal(PyObject_GetItem(o, key)); }
inline bool truth(PyObject* o) { return check(PyObject_IsTrue(o)) != 0; }
inline bool not_equal(PyObject* a, PyObject* b) {
    return check(PyObject_RichCompareBool(a, b, Py_NE)) != 0;
}
inline bool less_equal(PyObject* a, PyObject* b) {
    return check(PyObject_RichCompareBool(a, b, Py_LE)) != 0;
}
inline bool less_than(PyObject* a, PyObject* b) { return check(PyObject_RichCompareBool(a, b, Py_LT)) != 0; }
inline bool greater_than(PyObject* a, PyObject* b) { return check(PyObject_RichCompareBool(a, b, Py_GT)) != 0; }
inline bool is_equal(PyObject* a, PyObject* b) { return check(PyObject_RichCompareBool(a, b, Py_EQ)) != 0; }
inline Ref integer(Py_ssize_t v) { return Ref::steal(PyLong_FromSsize_t(v)); }

// f(args...) with positional arguments only.
template <class... A>
Ref call(PyObject* f, A... args) {
    PyObject* argv[] = {nullptr, args...};
    return Ref::steal(PyObject_Vectorcall(f, argv + 1, sizeof...(A) | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                          nullptr));
}

// o.name(args...)
template <class... A>
Ref call_method(PyObject* o, PyObject* name, A... args) {
    PyObject* argv[] = {o, args...};
    return Ref::steal(
        PyObject_VectorcallMethod(name, argv, (1 + sizeof...(A)) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// A row or column count handed to a kernel: a 32-bit signed integer, else OverflowError.
int to_int(Py_ssize_t count);

// ---------------------------------------------------------------------------------------------
// Kernels without the interpreter lock

// Kernel work (element operations) from which a call lets other Python threads run meanwhile;
// below it, giving up the interpreter lock and taking it back costs more than it frees.
inline constexpr std::int64_t kUnlockedWork = std::int64_t{1} << 14;

// Takes the interpreter lock back after a kernel.  While the interpreter is finalising, CPython
// ends a thread that asks for the lock by unwinding it (pthread_exit); the unwind would run this
// call's destructors, which release Python objects, without the lock.  Such a thread stays here
// instead, asleep until the process ends, as a thread without C++ frames would under a newer
// interpreter.
void relock(PyThreadState* saved) noexcept;

// f() without the interpreter lock when `work` reaches kUnlockedWork, else with it.  f touches no
// Python object: the call takes every pointer and count beforehand and holds the arrays.  The
// lock is taken back before f's result, or an exception it throws (std::bad_alloc), goes on.
template <class F>
auto unlocked(std::int64_t work, F&& f) {
    if (work < kUnlockedWork) return f();
    PyThreadState* saved = PyEval_SaveThread();
    std::exception_ptr failed;
    if constexpr (std::is_void_v<std::invoke_result_t<F&>>) {
        try {
            f();
        } catch (...) {
            failed = std::current_exception();
        }
        relock(saved);
        if (failed) std::rethrow_exception(failed);
    } else {
        std::optional<std::invoke_result_t<F&>> result;
        try {
            result.emplace(f());
        } catch (...) {
            failed = std::current_exception();
        }
        relock(saved);
        if (failed) std::rethrow_exception(failed);
        return std::move(*result);
    }
}

// ---------------------------------------------------------------------------------------------
// Interned names and constants shared by the modules (made in module execution, kept for life)

struct Names {
    PyObject *ndim, *shape, *flags, *C_CONTIGUOUS, *dtype, *astype, *ascontiguousarray, *empty, *int32,
        *min, *max, *minimum, *maximum, *reduce, *np, *dtype_kw;
};
extern Names names;

struct Constants {
    PyObject *zero, *one, *two;
};
extern Constants constants;

// The module global `np`: the module's dictionary first, then the built-ins, else NameError.
Ref np();
// An attribute of `np`, e.g. np_attr(names.min) for np.min.
Ref np_attr(PyObject* name);
// module.name, for `np` and the like.
Ref attr_of(PyObject* module, PyObject* name);

// np, np.empty and np.int32 as the module global `np` gives them at this moment, borrowed for the
// call; null when they are not kept (np is not a module in the module's own dictionary, or such
// changes happened too often), and then np() and attr_of() look them up.
struct NumpyNow {
    PyObject *np, *empty, *int32;
};
const NumpyNow* numpy_now();

// numpy.ndarray, kept from the type check of module execution.
PyTypeObject* ndarray_type();

// ---------------------------------------------------------------------------------------------
// Parameters and argument binding

struct Default {
    enum Kind { Required, None, False, Int, Float, Str } kind = Required;
    long i = 0;
    double d = 0.0;
    const char* s = nullptr;
};

struct Param {
    const char* name;
    Default value;
};

inline constexpr Param required(const char* name) { return {name, {Default::Required}}; }
inline constexpr Param optional(const char* name) { return {name, {Default::None}}; }
inline constexpr Param optional_false(const char* name) { return {name, {Default::False}}; }
inline constexpr Param optional_int(const char* name, long v) { return {name, {Default::Int, v}}; }
inline constexpr Param optional_float(const char* name, double v) {
    return {name, {Default::Float, 0, v}};
}
inline constexpr Param optional_str(const char* name, const char* v) {
    return {name, {Default::Str, 0, 0.0, v}};
}

inline constexpr int kMaxParams = 10;  // _variation's offspring step takes ten

// A module's tables.  Its parameters and its messages are each written once, as a list of
// ENTRY(NAME, value) items; EVOCORE_PARAMS and EVOCORE_MESSAGES make from the one list both the
// enum of the names (the indices the body uses) and the array of the values, which so cannot drift:
//
//   #define PARAMS(ENTRY) ENTRY(OBJV, evo::required("ObjV")) ENTRY(PARALLEL, evo::optional_false("Parallel"))
//   EVOCORE_PARAMS(PARAMS);
//   #define MESSAGES(ENTRY) ENTRY(M_PARALLEL, EVOCORE_SWITCH_MESSAGE("druvik", "Parallel")) ...
//   EVOCORE_MESSAGES(MESSAGES);
#define EVOCORE_TABLE_NAME(name, value) name,
#define EVOCORE_TABLE_VALUE(name, value) value,
#define EVOCORE_PARAMS(LIST)            \
    enum Param { LIST(EVOCORE_TABLE_NAME) }; \
    const evo::Param kParams[] = {LIST(EVOCORE_TABLE_VALUE)}
#define EVOCORE_MESSAGES(LIST)              \
    enum Message { LIST(EVOCORE_TABLE_NAME) }; \
    const char* const kMessages[] = {LIST(EVOCORE_TABLE_VALUE)}

// The message of a boolean switch (`Parallel`, `reverse`) that is neither None nor a bool.
#define EVOCORE_SWITCH_MESSAGE(module, param) \
    "error in " module ": " param " must be None, True or False. (传入参数" param "必须是None,True或者False。)"

// The bound arguments of one call, in declaration order.  The slots are borrowed: the caller's
// arguments outlive the call, and the defaults are the module's.
class Args {
public:
    PyObject* operator[](int i) const noexcept { return v_[i]; }
    bool is_none(int i) const noexcept { return v_[i] == Py_None; }
    // The seed material a random module's private entry `_seeded` was handed, else 0 (the call
    // draws its own from NumPy's global generator).
    int seed() const noexcept { return seed_; }

private:
    friend void bind(PyObject* const* args, Py_ssize_t npos, PyObject* kwnames, Args& out);
    friend void bind_seeded(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Args& out);
    PyObject* v_[kMaxParams] = {};
    int seed_ = 0;
};

// Binds a call's arguments to the module's parameters (the `_seeded` form after its seed).
void bind(PyObject* const* args, Py_ssize_t npos, PyObject* kwnames, Args& out);
void bind_seeded(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Args& out);

// A boolean switch (`Parallel`, `reverse`, ...): None and False give 0, True gives 1, anything
// else raises the module's message `msg`.
int bool_switch(PyObject* value, int msg);

// ---------------------------------------------------------------------------------------------
// The module definition

struct Module {
    const char* name;    // the module's own name, e.g. "druvik"
    const char* source;  // its source file, named in traceback entries
    int line;            // the line of the function in that source
    const char* doc;     // the function's docstring

    const Param* params = nullptr;
    int nparams = 0;
    const char* const* messages = nullptr;  // module error texts, indexed by the body's `fail(i)`
    int nmessages = 0;
    const char* const* builtins = nullptr;  // built-ins looked up at execution, in order
    int nbuiltins = 0;

    PyObject* (*body)(Args&) = nullptr;  // the function body (arguments bound)
    PyCFunction noargs = nullptr;       // or: a function that takes no arguments at all
    bool numpy = true;                  // imports and checks NumPy during execution
    int (*exec)() = nullptr;            // module constants of its own, made after the frame's
    // A random module also has the private entry `_seeded(randDelta, *args, **kwargs)`: the same
    // call with the seed material given (2 .. 2147483646) instead of drawn from NumPy's global
    // generator, for callers that own their generator (evocore.algorithms).
    bool seeded = false;
    // A module whose kernels have forms also has the private entry `_forms`: what it reports of
    // them, and the choice of one for later calls (for the tests and the benchmark).
    const KernelForms* forms = nullptr;
    int nforms = 0;
};

// The definition of an operator module (one function that binds `params`).
template <std::size_t P, std::size_t Msg, std::size_t B>
constexpr Module operator_module(const char* name, const char* source, int line, const char* doc,
                                 const Param (&params)[P], const char* const (&messages)[Msg],
                                 const char* const (&builtins)[B], PyObject* (*body)(Args&),
                                 int (*exec)() = nullptr, bool seeded = false) {
    static_assert(P <= kMaxParams, "too many parameters");
    return Module{.name = name, .source = source, .line = line, .doc = doc,
                  .params = params, .nparams = (int)P, .messages = messages, .nmessages = (int)Msg,
                  .builtins = builtins, .nbuiltins = (int)B, .body = body, .exec = exec, .seeded = seeded};
}

// `m` with the kernels whose forms its `_forms` entry reports.
template <std::size_t K>
constexpr Module with_forms(Module m, const KernelForms (&forms)[K]) {
    m.forms = forms;
    m.nforms = (int)K;
    return m;
}

PyObject* module_init(const Module& m);

}  // namespace evo

#define EVOCORE_MODULE(name, def) \
    PyMODINIT_FUNC PyInit_##name(void) { return evo::module_init(def); }
