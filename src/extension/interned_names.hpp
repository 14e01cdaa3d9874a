// Strings made once per process: the node update fields' dictionary keys and
// every parameter name. A cached str hashes and compares like a new one, so
// callers cannot tell, and the hot paths skip building them on every call.
#pragma once

#include <Python.h>

#include <array>

#include "node_update/node_update.hpp"

namespace tovra::py {

// Creates the names on first use; false with an exception set on failure.
bool init_interned_names() noexcept;

// Each field's dictionary key, by its index in the field table; valid once
// init_interned_names succeeded (module initialisation does it).
const std::array<PyObject*, field_count>& field_keys() noexcept;

}  // namespace tovra::py
