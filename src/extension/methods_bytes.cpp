// to_bytes and from_bytes: the Python layer around the byte codec. Codec
// failures carry no detail to Python; each direction has one fixed message.
#include <cstdint>
#include <span>

#include "bytes/graph_diff_codec.hpp"
#include "extension/borrow.hpp"
#include "extension/call_wrapper.hpp"
#include "extension/conversions.hpp"
#include "extension/messages.hpp"
#include "extension/method_table.hpp"

namespace tovra::py {

PyObject* method_to_bytes(PyObject* self, PyObject*) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(SharedBorrow borrow, borrow_shared(self));
        auto plan = plan_encoding(borrow.diff());
        if (!plan.ok() || plan.value().size() > static_cast<std::size_t>(PY_SSIZE_T_MAX)) {
            return fail(ErrorValue::make(PyExc_Exception, text::serialize_failed));
        }
        // The exact length is known: the bytes object is made once and filled in place.
        Owned result = checked_new(
            PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(plan.value().size())));
        plan.value().write(reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(result.get())));
        return result;
    });
}

PyObject* method_from_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    return guarded_call([&]() -> Outcome {
        TOVRA_TRY(auto arguments, parse_arguments<params::from_bytes>(args, nargs, kwnames));
        TOVRA_TRY(PyObject* data, arguments.convert(0, pyobject_to_pybytes));
        // Decoded from the object's own buffer; the result keeps no reference into it.
        std::span<const std::uint8_t> input(
            reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(data)),
            static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
        auto decoded = bytes_to_graph_diff(input);
        if (!decoded.ok()) {
            return fail(ErrorValue::make(PyExc_Exception, text::deserialize_failed));
        }
        return wrap_graph_diff(std::move(decoded).value());
    });
}

}  // namespace tovra::py
