// Module lifecycle (creation and execution), argument binding, errors and traceback entries.
#include "frame.hpp"
#include "array.hpp"
#include "numpy_layout.hpp"
#include "watch.hpp"

#include <frameobject.h>
#include <unistd.h>
#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <new>
#include <string>

namespace evo {

Names names;
Constants constants;

namespace {

// Each deliverable carries its own copy of this state: one module object per process.  Creation
// and execution write it, one thread at a time (g_init_mutex); a call only reads it.
const Module* g_def = nullptr;
PyObject* g_module = nullptr;       // the module object, once created
PyObject* g_dict = nullptr;         // its attribute dictionary (borrowed from g_module)
bool g_executed = false;            // execution has started on g_module
int64_t g_interpreter = -1;         // the interpreter that first created the module
PyObject* g_runtime_error = nullptr;
PyObject** g_messages = nullptr;    // one-element argument tuples of the module's messages
PyObject** g_param_names = nullptr; // interned parameter names
PyObject** g_defaults = nullptr;    // default values (nullptr for required parameters)
int g_required = 0;                 // the leading parameters without defaults
PyObject* g_ndarray = nullptr;
Shared g_code;                      // code object of the function's traceback entry
Shared g_init_code;                 // code object of the "init <name>" traceback entry
char g_funcname[160];               // "<name>.<name>": the function's traceback entry
PyMethodDef g_method{};
PyMethodDef g_seeded_method{};       // the private entry of a random module
PyMethodDef g_forms_method{};        // the private entry of a module whose kernels have forms

// A lock of the module's own: waiting for it lets other Python threads run.  Before CPython 3.13
// there is no such lock, nor a need for one: the interpreter lock, held throughout, serialises.
#if PY_VERSION_HEX >= 0x030D0000
using OwnMutex = PyMutex;
class Held {
public:
    explicit Held(PyMutex& m) : m_(m) { PyMutex_Lock(&m_); }
    ~Held() { PyMutex_Unlock(&m_); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

private:
    PyMutex& m_;
};
#else
struct OwnMutex {};
class Held {
public:
    explicit Held(OwnMutex&) {}
};
#endif

// Creation and execution of the module, one thread at a time.  The interpreter's lock on the
// module's import covers an `import`; this one also covers a module made from its spec directly
// (importlib.util.module_from_spec) and, on a free-threaded build or from a second interpreter,
// threads that no interpreter lock serialises.
OwnMutex g_init_mutex{};

// Starts watching the module's dictionary, once `np` is in it (below, with NumPy's names kept).
void watch_globals();

// Appends an entry "<funcname>" in the module's source to the traceback of the pending exception.
void add_traceback(Shared& code, const char* funcname) {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyCodeObject* made = nullptr;
    try {
        made = (PyCodeObject*)code.get([&] { return (PyObject*)PyCode_NewEmpty(g_def->source, funcname, g_def->line); });
    } catch (const PyException&) {
        PyErr_Clear();
    }
    PyObject* globals = g_dict ? g_dict : PyEval_GetBuiltins();
    PyFrameObject* frame = made ? PyFrame_New(PyThreadState_Get(), made, globals, nullptr) : nullptr;
    PyErr_Restore(type, value, tb);
    if (frame == nullptr) return;  // the original exception matters more than its traceback
    PyTraceBack_Here(frame);
    Py_DECREF(frame);
}

// ---- argument binding --------------------------------------------------------------------

[[noreturn]] void count_error(const char* more_or_less, Py_ssize_t expected, Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 g_def->name, more_or_less, expected, expected == 1 ? "" : "s", given);
    rethrow();
}

// The index of the parameter named `key`, else -1: interned names match by identity; other
// strings of the same text (made at run time) by comparison.
int parameter_index(PyObject* key) {
    for (int i = 0; i < g_def->nparams; ++i)
        if (key == g_param_names[i]) return i;
    for (int i = 0; i < g_def->nparams; ++i)
        if (PyUnicode_Compare(key, g_param_names[i]) == 0) return i;
    return -1;
}

// The position of parameter `name` among the keyword names, else -1: by identity (the names a
// call site spells are interned), or by comparison when `compare` (names made at run time).
Py_ssize_t keyword_index(PyObject* kwnames, Py_ssize_t nkw, PyObject* name, bool compare) {
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (key == name || (compare && PyUnicode_Check(key) && PyUnicode_Compare(key, name) == 0)) return k;
    }
    return -1;
}

// The first keyword left over after binding, in the order of the call's keywords, decides the
// error.
[[noreturn]] void leftover_keyword_error(PyObject* kwnames, Py_ssize_t npos) {
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(kwnames); ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", g_def->name);
            rethrow();
        }
        const int index = parameter_index(key);
        if (index >= npos) continue;  // it bound its parameter
        if (index >= 0)
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", g_def->name, key);
        else
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", g_def->name, key);
        rethrow();
    }
    PyErr_SetString(PyExc_SystemError, "keyword arguments changed during binding");
    rethrow();
}

template <void (*Bind)(PyObject* const*, Py_ssize_t, PyObject*, Args&)>
PyObject* call_body(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    try {
        Args bound;
        Bind(args, nargs, kwnames, bound);
        return g_def->body(bound);
    } catch (const PyException&) {
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    }
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
    add_traceback(g_code, g_funcname);
    return nullptr;
}

// ---- module creation ----------------------------------------------------------------------

int copy_spec_attr(PyObject* spec, PyObject* dict, const char* from, const char* to, bool skip_none) {
    PyObject* value = PyObject_GetAttrString(spec, from);
    if (value == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        return 0;
    }
    int r = (skip_none && value == Py_None) ? 0 : PyDict_SetItemString(dict, to, value);
    Py_DECREF(value);
    return r;
}

PyObject* create(PyObject* spec, PyModuleDef*) {
    Held lock(g_init_mutex);
    int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (g_interpreter == -1) {
        g_interpreter = id;
    } else if (g_interpreter != id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return nullptr;
    }
    if (g_module != nullptr) return Py_NewRef(g_module);

    PyObject* name = PyObject_GetAttrString(spec, "name");
    if (name == nullptr) return nullptr;
    PyObject* module = PyModule_NewObject(name);
    Py_DECREF(name);
    if (module == nullptr) return nullptr;
    PyObject* dict = PyModule_GetDict(module);
    if (copy_spec_attr(spec, dict, "loader", "__loader__", false) < 0 ||
        copy_spec_attr(spec, dict, "origin", "__file__", false) < 0 ||
        copy_spec_attr(spec, dict, "parent", "__package__", false) < 0 ||
        copy_spec_attr(spec, dict, "submodule_search_locations", "__path__", true) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

// ---- module execution ---------------------------------------------------------------------

// The version the module was built for against the running interpreter, as numbers.
void version_check() {
    int major = 0, minor = 0;
    std::sscanf(Py_GetVersion(), "%d.%d", &major, &minor);
    if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return;
    char built[32], running[32];
    std::snprintf(built, sizeof built, "%d.%d", PY_MAJOR_VERSION, PY_MINOR_VERSION);
    std::snprintf(running, sizeof running, "%d.%d", major, minor);
    check(PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                           "compiletime version %s of module '%.100s' does not match runtime version %s",
                           built, g_def->name, running));
}

PyObject* intern(const char* s) { return check(PyUnicode_InternFromString(s)); }

void make_names() {
    names = {intern("ndim"),   intern("shape"), intern("flags"), intern("C_CONTIGUOUS"),
             intern("dtype"),  intern("astype"), intern("ascontiguousarray"),
             intern("empty"),  intern("int32"), intern("min"),
             intern("max"),    intern("minimum"), intern("maximum"), intern("reduce"),
             intern("np"),     nullptr};
    names.dtype_kw = check(PyTuple_Pack(1, names.dtype));
    constants = {check(PyLong_FromLong(0)), check(PyLong_FromLong(1)), check(PyLong_FromLong(2))};

    const int n = g_def->nparams;
    g_param_names = new PyObject*[n]();
    g_defaults = new PyObject*[n]();
    for (int i = 0; i < n; ++i) {
        const Param& p = g_def->params[i];
        g_param_names[i] = intern(p.name);
        switch (p.value.kind) {
            case Default::Required: g_required = i + 1; break;
            case Default::None: g_defaults[i] = Py_NewRef(Py_None); break;
            case Default::False: g_defaults[i] = Py_NewRef(Py_False); break;
            case Default::Int: g_defaults[i] = check(PyLong_FromLong(p.value.i)); break;
            case Default::Float: g_defaults[i] = check(PyFloat_FromDouble(p.value.d)); break;
            case Default::Str: g_defaults[i] = intern(p.value.s); break;
        }
    }
}

// Every built-in the module names must exist, as its import would require; of them, only the
// error type is kept.
void lookup_builtins(PyObject* builtins) {
    for (int i = 0; i < g_def->nbuiltins; ++i) {
        PyObject* value = PyObject_GetAttrString(builtins, g_def->builtins[i]);
        if (value == nullptr) {
            if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_NameError, "name '%s' is not defined", g_def->builtins[i]);
            }
            rethrow();
        }
        if (std::strcmp(g_def->builtins[i], "RuntimeError") == 0)
            g_runtime_error = value;
        else
            Py_DECREF(value);
    }
}

void make_messages() {
    g_messages = new PyObject*[g_def->nmessages]();
    for (int i = 0; i < g_def->nmessages; ++i) {
        Ref text = Ref::steal(PyUnicode_FromString(g_def->messages[i]));
        g_messages[i] = check(PyTuple_Pack(1, text.get()));
    }
}

using numpy_layout::Larger;

// `module.name` must be a type whose instances are at least `expected` bytes.
PyObject* check_type(PyObject* module, const char* module_name, const char* name, Py_ssize_t expected,
                     Larger larger) {
    Ref type = Ref::steal(PyObject_GetAttrString(module, name));
    if (!PyType_Check(type.get())) {
        PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", module_name, name);
        rethrow();
    }
    Py_ssize_t size = ((PyTypeObject*)type.get())->tp_basicsize;
    if (size < expected) {
        PyErr_Format(PyExc_ValueError,
                     "%.200s.%.200s size changed, may indicate binary incompatibility. Expected %zd "
                     "from C header, got %zd from PyObject",
                     module_name, name, expected, size);
        rethrow();
    }
    if (size > expected && larger == Larger::Warn) {
        char text[400];
        std::snprintf(text, sizeof text,
                      "%s.%s size changed, may indicate binary incompatibility. Expected %zd from C "
                      "header, got %zd from PyObject",
                      module_name, name, expected, size);
        check(PyErr_WarnEx(PyExc_RuntimeWarning, text, 0));
    }
    return type.release();
}

// The NumPy types the modules rely on, against the running interpreter's object header; then
// the fields of ndarray and dtype that the frame reads, against an array NumPy makes.
void check_numpy_types() {
    Ref numpy = Ref::steal(PyImport_ImportModule("numpy"));
    Ref types[std::size(numpy_layout::kTypes)];
    int k = 0;
    for (const numpy_layout::TypeSize& t : numpy_layout::kTypes)
        types[k++] = Ref::steal(
            check_type(numpy.get(), "numpy", t.name, numpy_layout::header_size() + t.beyond_header, t.larger));
    g_ndarray = types[numpy_layout::kNdarray].release();
    read_fields_of((PyTypeObject*)g_ndarray);
}

// The docstring behind a text signature, "name(params)\n--\n\n": the interpreter takes the first
// part as the function's __text_signature__ (what inspect.signature and help() show) and gives
// the documented docstring, unchanged, as __doc__.
const char* signed_doc() {
    static std::string doc;
    doc = std::string(g_def->name) + "(";
    for (int i = 0; i < g_def->nparams; ++i) {
        if (i) doc += ", ";
        doc += g_def->params[i].name;
        if (g_defaults[i] == nullptr) continue;
        Ref text = Ref::steal(PyObject_Repr(g_defaults[i]));
        const char* utf8 = PyUnicode_AsUTF8(text.get());
        if (utf8 == nullptr) rethrow();
        doc += "=";
        doc += utf8;
    }
    doc += ")\n--\n\n";
    doc += g_def->doc;
    return doc.c_str();
}

Ref text(const char* s) { return Ref::steal(check(PyUnicode_FromString(s))); }

// The names of kernel c's forms that `keep` selects, as a tuple.
template <class Keep>
Ref form_names(const FormChoice& c, Keep keep) {
    Ref names = Ref::steal(check(PyList_New(0)));
    for (int f = 0; f < c.count(); ++f)
        if (keep(f)) check(PyList_Append(names.get(), text(c.name(f)).get()));
    return Ref::steal(check(PyList_AsTuple(names.get())));
}

// _forms(): for each kernel, (kernel, its forms, the forms this processor runs, the one its calls
// run).  _forms(kernel, form): later calls run that form; returns the one they ran before.
PyObject* forms_entry(PyObject*, PyObject* args) {
    const char *kernel = nullptr, *form = nullptr;
    if (!PyArg_ParseTuple(args, "|ss:_forms", &kernel, &form)) return nullptr;
    try {
        if (kernel == nullptr) {
            Ref report = Ref::steal(check(PyTuple_New(g_def->nforms)));
            for (int k = 0; k < g_def->nforms; ++k) {
                const FormChoice& c = g_def->forms[k].forms();
                Ref all = form_names(c, [](int) { return true; });
                Ref runs = form_names(c, [&](int f) { return c.supported(f); });
                PyObject* row = check(PyTuple_Pack(4, text(g_def->forms[k].kernel).get(), all.get(), runs.get(),
                                                   text(c.name(c.picked())).get()));
                PyTuple_SET_ITEM(report.get(), k, row);
            }
            return report.release();
        }
        for (int k = 0; k < g_def->nforms; ++k) {
            if (std::strcmp(g_def->forms[k].kernel, kernel) != 0) continue;
            FormChoice& c = g_def->forms[k].forms();
            const int before = c.picked();
            int f = 0;
            while (f < c.count() && (form == nullptr || std::strcmp(c.name(f), form) != 0)) ++f;
            if (!c.pick(f)) {
                PyErr_Format(PyExc_ValueError, "_forms(): kernel %s has no form %s that this processor runs", kernel,
                             form ? form : "None");
                return nullptr;
            }
            return text(c.name(before)).release();
        }
        PyErr_Format(PyExc_ValueError, "_forms(): no kernel %s in %s", kernel, g_def->name);
    } catch (const PyException&) {
    }
    return nullptr;
}

void execute(PyObject* module) {
    g_module = Py_NewRef(module);
    g_dict = PyModule_GetDict(module);
    version_check();

    // The module's globals (an extension module is never the main program, so its __name__ stays
    // as created).
    Ref builtins = Ref::borrow(check(PyImport_AddModule("builtins")));
    check(PyDict_SetItemString(g_dict, "__builtins__", builtins.get()));
    make_names();
    if (g_def->exec) check(g_def->exec());

    // In sys.modules under its name, also when made from its spec directly.
    Ref name = Ref::steal(PyModule_GetNameObject(module));
    PyObject* modules = PyImport_GetModuleDict();
    if (!check(PyDict_Contains(modules, name.get()))) check(PyDict_SetItem(modules, name.get(), module));

    if (g_def->numpy) {
        lookup_builtins(builtins.get());
        make_messages();
        // `type` against the heap-type size of the headers this module is built with
        Py_DECREF(check_type(builtins.get(), "builtins", "type", sizeof(PyHeapTypeObject), Larger::Warn));
        check_numpy_types();
        Ref numpy = Ref::steal(PyImport_ImportModule("numpy"));
        check(PyDict_SetItem(g_dict, names.np, numpy.get()));
        watch_globals();
    }

    // The function, and a random module's private seeded entry.
    g_method.ml_name = g_def->name;
    g_method.ml_doc = signed_doc();
    if (g_def->noargs) {
        g_method.ml_meth = g_def->noargs;
        g_method.ml_flags = METH_NOARGS;
    } else {
        g_method.ml_meth = (PyCFunction)(void (*)(void))call_body<bind>;
        g_method.ml_flags = METH_FASTCALL | METH_KEYWORDS;
    }
    Ref function = Ref::steal(PyCFunction_NewEx(&g_method, nullptr, name.get()));
    check(PyDict_SetItemString(g_dict, g_def->name, function.get()));
    if (g_def->seeded) {
        g_seeded_method = {"_seeded", (PyCFunction)(void (*)(void))call_body<bind_seeded>,
                           METH_FASTCALL | METH_KEYWORDS,
                           "_seeded(randDelta, *args, **kwargs): the call with its seed material given."};
        Ref seeded = Ref::steal(PyCFunction_NewEx(&g_seeded_method, nullptr, name.get()));
        check(PyDict_SetItemString(g_dict, "_seeded", seeded.get()));
    }
    if (g_def->nforms > 0) {
        g_forms_method = {"_forms", forms_entry, METH_VARARGS,
                          "_forms(): the kernels' forms; _forms(kernel, form): later calls run that form."};
        Ref forms = Ref::steal(PyCFunction_NewEx(&g_forms_method, nullptr, name.get()));
        check(PyDict_SetItemString(g_dict, "_forms", forms.get()));
    }

    Ref test = Ref::steal(PyDict_New());
    check(PyDict_SetItemString(g_dict, "__test__", test.get()));
}

int exec(PyObject* module) {
    Held lock(g_init_mutex);
    if (g_executed) {  // one module object per process
        if (module == g_module) return 0;
        PyErr_Format(PyExc_RuntimeError,
                     "Module '%s' has already been imported. Re-initialisation is not supported.",
                     g_def->name);
        return -1;
    }
    g_executed = true;
    try {
        execute(module);
        return 0;
    } catch (const PyException&) {
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
    char entry[128];
    std::snprintf(entry, sizeof entry, "init %s", g_def->name);
    if (PyErr_Occurred()) {
        add_traceback(g_init_code, entry);
    } else {
        PyErr_SetString(PyExc_ImportError, entry);
    }
    // Release the half-made module so that a later import starts afresh.
    Py_CLEAR(g_module);
    g_dict = nullptr;
    g_executed = false;
    return -1;
}

}  // namespace

// ---- the public frame -----------------------------------------------------------------------

// Positional arguments first, then each further parameter in declaration order from the
// keywords (the values follow the positional ones in `args`), else its default.
void bind(PyObject* const* args, Py_ssize_t npos, PyObject* kwnames, Args& out) {
    const int all = g_def->nparams;
    const int req = g_required;
    if (npos > all) count_error("at most", all, npos);
    for (Py_ssize_t i = 0; i < npos; ++i) out.v_[i] = args[i];

    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nkw == 0) {
        if (npos < req) count_error("at least", req, npos);
        for (int i = (int)npos; i < all; ++i) out.v_[i] = g_defaults[i];
        return;
    }
    // Every parameter by identity first; only when a keyword is left over, the others by text.
    PyObject* const* values = args + npos;
    Py_ssize_t found = 0;
    for (const bool compare : {false, true}) {
        for (int i = (int)npos; i < all; ++i) {
            if (compare && out.v_[i] != nullptr) continue;
            const Py_ssize_t k = keyword_index(kwnames, nkw, g_param_names[i], compare);
            out.v_[i] = k >= 0 ? values[k] : nullptr;
            found += k >= 0;
        }
        if (found == nkw) break;
    }
    for (int i = (int)npos; i < all; ++i) {
        if (out.v_[i] != nullptr) continue;
        if (i < req) count_error("at least", req, i);
        out.v_[i] = g_defaults[i];
    }
    if (found < nkw) leftover_keyword_error(kwnames, npos);
}

void bind_seeded(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Args& out) {
    if (nargs < 1) {
        PyErr_SetString(PyExc_TypeError, "_seeded() needs the seed material as its first argument");
        rethrow();
    }
    int overflow = 0;
    const long long seed = PyLong_Check(args[0]) ? PyLong_AsLongLongAndOverflow(args[0], &overflow) : 0;
    if (seed == -1 && PyErr_Occurred()) rethrow();
    if (overflow != 0 || seed < 2 || seed > 2147483646) {
        PyErr_SetString(PyExc_ValueError, "_seeded(): randDelta must be an int from 2 to 2147483646");
        rethrow();
    }
    bind(args + 1, nargs - 1, kwnames, out);
    out.seed_ = (int)seed;
}

void fail(int msg) {
    Ref exc = Ref::steal(PyObject_Call(g_runtime_error, g_messages[msg], nullptr));
    PyErr_SetObject((PyObject*)Py_TYPE(exc.get()), exc.get());
    rethrow();
}

void relock(PyThreadState* saved) noexcept {
#if defined(__GLIBCXX__)
    try {
        PyEval_RestoreThread(saved);
    } catch (abi::__forced_unwind&) {
        for (;;) pause();  // the process is exiting; leaving this handler would end it at once
    }
#else
    PyEval_RestoreThread(saved);  // the C library ends the thread without unwinding it
#endif
}

int to_int(Py_ssize_t count) {
    if (count < INT32_MIN || count > INT32_MAX) {
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
        rethrow();
    }
    return (int)count;
}

int bool_switch(PyObject* value, int msg) {
    if (value == Py_None || value == Py_False) return 0;
    if (value == Py_True) return 1;
    fail(msg);  // bool has no subclasses: anything else is not a bool
}

namespace {

// dict[key] as a reference of the call's own, else an empty Ref (KeyError is not raised).  Without
// an interpreter lock, an entry may be replaced, and its old value released, by another thread
// at any time: a borrowed value would not outlive that.
Ref dict_item(PyObject* dict, PyObject* key) {
#if PY_VERSION_HEX >= 0x030D0000
    PyObject* value = nullptr;
    check(PyDict_GetItemRef(dict, key, &value));
    return Ref::steal_or_null(value);
#else
    PyObject* value = PyDict_GetItemWithError(dict, key);
    if (value == nullptr && PyErr_Occurred()) rethrow();
    return Ref::borrow(value);
#endif
}

}  // namespace

Ref np() {
    Ref value = dict_item(g_dict, names.np);
    if (!value) value = dict_item(PyEval_GetBuiltins(), names.np);
    if (!value) {
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", names.np);
        rethrow();
    }
    return value;
}

Ref np_attr(PyObject* name) { return attr_of(np().get(), name); }

// For an exact module the entry of its dictionary is the attribute (the module type defines no
// attribute of the names asked for here); anything else, or a name it lacks, asks the object.
Ref attr_of(PyObject* module, PyObject* name) {
    if (PyModule_CheckExact(module)) {
        Ref value = dict_item(PyModule_GetDict(module), name);
        if (value) return value;
    }
    return getattr(module, name);
}

PyTypeObject* ndarray_type() { return (PyTypeObject*)g_ndarray; }

// ---- NumPy's names, kept between calls -----------------------------------------------------
//
// Every call looks NumPy up through the module's global `np`, and np.empty through NumPy's module.
// What a call finds is kept, and later calls use it as long as neither dictionary has changed:
// from CPython 3.12 a dictionary watcher counts their changes (the runtime library's count, one
// per process), before that the dictionaries' version tags tell.  A call that finds the kept
// names current uses them without touching their reference counts, which calls from several
// threads at once would otherwise contend for on a free-threaded build.
//
// A kept set is never released: a call that took it may still be using it when another call
// replaces it.  Replacements are rare (np, or one of the names, rebound); past kMaxKept sets
// nothing more is kept and every call looks the names up.

namespace {

struct Kept {
    NumpyNow now;  // strong references, for the life of the process
#if PY_VERSION_HEX >= 0x030C0000
    std::atomic<std::uint64_t> seen;  // the count of changes when they were found
#else
    PyObject* numpy_dict;
    std::uint64_t module_version, numpy_version;
#endif
};

constexpr int kMaxKept = 8;
std::atomic<Kept*> g_kept{nullptr};
int g_kept_sets = 0;  // written under the lock below

#if PY_VERSION_HEX >= 0x030C0000
int g_watcher = -1;  // the process's watcher, once the module is executed
std::atomic<std::uint64_t>* g_changes = nullptr;

int on_change(PyDict_WatchEvent, PyObject*, PyObject*, PyObject*) {
    g_changes->fetch_add(1, std::memory_order_acq_rel);
    return 0;
}

// The process's watcher for this module's dictionary (and, later, NumPy's); -1 for none.
void watch_globals() {
    g_changes = &watched_changes();
    g_watcher = dict_watcher([] {
        const int id = PyDict_AddWatcher(on_change);
        if (id < 0) PyErr_Clear();
        return id;
    });
    if (g_watcher >= 0 && PyDict_Watch(g_watcher, g_dict) < 0) {
        PyErr_Clear();
        g_watcher = -1;
    }
}

bool current(const Kept& k) {
    return k.seen.load(std::memory_order_acquire) == g_changes->load(std::memory_order_acquire);
}
#else
std::uint64_t version(PyObject* dict) { return ((PyDictObject*)dict)->ma_version_tag; }

void watch_globals() {}

bool current(const Kept& k) {
    return version(g_dict) == k.module_version && version(k.numpy_dict) == k.numpy_version;
}
#endif

// Keeping runs one thread at a time (on older interpreters under the interpreter lock, which no
// step below lets go of).
OwnMutex g_keep_mutex{};

// dict[key] once no other thread is part-way through changing the dictionary: a watcher hears
// of a change before it is made.
Ref settled_item(PyObject* dict, PyObject* key) {
#if PY_VERSION_HEX >= 0x030D0000
    PyObject* value = nullptr;
    int found = 0;
    Py_BEGIN_CRITICAL_SECTION(dict);
    found = PyDict_GetItemRef(dict, key, &value);
    Py_END_CRITICAL_SECTION();
    check(found);
    return Ref::steal_or_null(value);
#else
    return dict_item(dict, key);
#endif
}

Kept* keep_numpy() {
#if PY_VERSION_HEX >= 0x030C0000
    if (g_watcher < 0) return nullptr;
#endif
    Held lock(g_keep_mutex);
#if PY_VERSION_HEX >= 0x030C0000
    const std::uint64_t seen = g_changes->load(std::memory_order_acquire);
#else
    const std::uint64_t module_version = version(g_dict);
#endif
    Ref numpy = settled_item(g_dict, names.np);
    if (!numpy || !PyModule_CheckExact(numpy.get())) return nullptr;
    PyObject* numpy_dict = PyModule_GetDict(numpy.get());
#if PY_VERSION_HEX >= 0x030C0000
    if (PyDict_Watch(g_watcher, numpy_dict) < 0) {
        PyErr_Clear();
        return nullptr;
    }
#else
    const std::uint64_t numpy_version = version(numpy_dict);
#endif
    Ref empty = settled_item(numpy_dict, names.empty);
    Ref int32 = settled_item(numpy_dict, names.int32);
    if (!empty || !int32) return nullptr;

    Kept* kept = g_kept.load(std::memory_order_relaxed);
    if (kept == nullptr || kept->now.np != numpy.get() || kept->now.empty != empty.get() ||
        kept->now.int32 != int32.get()) {
        if (g_kept_sets == kMaxKept) return nullptr;
        ++g_kept_sets;
        kept = new Kept();
        kept->now = {numpy.release(), empty.release(), int32.release()};
    }
#if PY_VERSION_HEX >= 0x030C0000
    kept->seen.store(seen, std::memory_order_release);
#else
    kept->numpy_dict = numpy_dict;
    kept->module_version = module_version;
    kept->numpy_version = numpy_version;
#endif
    g_kept.store(kept, std::memory_order_release);
    return kept;
}

}  // namespace

const NumpyNow* numpy_now() {
    Kept* kept = g_kept.load(std::memory_order_acquire);
    if (kept == nullptr || !current(*kept)) kept = keep_numpy();
    return kept ? &kept->now : nullptr;
}


namespace {

// The module's state is the process's, not an interpreter's: a second interpreter is refused (by
// the interpreter itself unless it shares the main interpreter's lock, else by `create`).  Every piece of
// it that calls share is written during execution or made once (Shared), and the thread team
// serves several callers, so the module runs without the interpreter lock on a free-threaded build.
PyModuleDef_Slot g_slots[] = {
    {Py_mod_create, (void*)create},
    {Py_mod_exec, (void*)exec},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#if PY_VERSION_HEX >= 0x030D0000
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef* definition(const Module& m) {
    static PyModuleDef def;
    g_def = &m;
    std::snprintf(g_funcname, sizeof g_funcname, "%s.%s", m.name, m.name);
    def = {PyModuleDef_HEAD_INIT, m.name, nullptr, 0, nullptr, g_slots, nullptr, nullptr, nullptr};
    return &def;
}

}  // namespace

// The interpreter calls this at every load of the module's library; the definition is made once.
PyObject* module_init(const Module& m) {
    static PyModuleDef* const def = definition(m);
    return PyModuleDef_Init(def);
}

}  // namespace evo
