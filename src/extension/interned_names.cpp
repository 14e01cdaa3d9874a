#include "extension/interned_names.hpp"

#include <string_view>

#include "extension/method_table.hpp"

namespace tovra::py {

namespace {

std::array<PyObject*, field_count> keys{};

// Interning gives one str per text, so a name shared by several methods is
// made once. Kept for the life of the process; a name made already is kept.
bool make(PyObject*& slot, std::string_view text) noexcept {
    if (slot != nullptr) return true;
    PyObject* name = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (name == nullptr) return false;
    PyUnicode_InternInPlace(&name);
    slot = name;
    return true;
}

}  // namespace

bool init_interned_names() noexcept {
    bool made = true;
    for_each_field([&](auto index) { made = made && make(keys[index], field_at<index>.dict_name); });
    for (const ParameterList* list : params::all_lists) {
        for (std::size_t p = 0; p < list->count; ++p) made = made && make(list->interned[p], list->names[p]);
    }
    return made;
}

const std::array<PyObject*, field_count>& field_keys() noexcept { return keys; }

}  // namespace tovra::py
