#include "extension/interned_names.hpp"

namespace tovra::py {

namespace {

InternedNames table{};
bool ready = false;

bool make(PyObject*& slot, const char* text) noexcept {
    if (slot != nullptr) return true;
    PyObject* name = PyUnicode_FromString(text);
    if (name == nullptr) return false;
    PyUnicode_InternInPlace(&name);
    slot = name;  // kept for the life of the process
    return true;
}

}  // namespace

bool init_interned_names() noexcept {
    if (ready) return true;
    ready = make(table.label, "label") && make(table.url, "url") && make(table.size, "size") &&
            make(table.red, "red") && make(table.green, "green") && make(table.blue, "blue") &&
            make(table.show_label, "show_label") && make(table.id, "id") &&
            make(table.update, "update") && make(table.from, "from") && make(table.to, "to") &&
            make(table.weight, "weight") && make(table.bytes, "bytes");
    return ready;
}

const InternedNames& names() noexcept { return table; }

}  // namespace tovra::py
