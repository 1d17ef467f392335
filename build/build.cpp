// build: the version key of the core; its one function does nothing.
#include "../frame/frame.hpp"
static PyObject* build(PyObject*, PyObject*) { Py_RETURN_NONE; }

namespace {

const char* const kDoc = "\n    This file is set up as a key to control the version of the core.\n    ";

const evo::Module kModule = {
    .name = "build",
    .source = "build/build.cpp",
    .line = 3,
    .doc = kDoc,
    .noargs = build,
    .numpy = false,
};

}  // namespace

EVOCORE_MODULE(build, kModule)
