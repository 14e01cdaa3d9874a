// Strings made once per process and reused: the seven node update keys and
// the parameter names. A cached str hashes and compares like a new one, so
// callers cannot tell, and the hot paths skip building them on every call.
#pragma once

#include <Python.h>

namespace tovra::py {

struct InternedNames {
    PyObject* label;
    PyObject* url;
    PyObject* size;
    PyObject* red;
    PyObject* green;
    PyObject* blue;
    PyObject* show_label;
    PyObject* id;
    PyObject* update;
    PyObject* from;
    PyObject* to;
    PyObject* weight;
    PyObject* bytes;
};

// Creates the names on first use; false with an exception set on failure.
bool init_interned_names() noexcept;

// Valid once init_interned_names succeeded (module initialisation does it).
const InternedNames& names() noexcept;

}  // namespace tovra::py
