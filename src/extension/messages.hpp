// Every text the module shows to Python, fixed texts and the formats of the
// composed ones, in one place. Callers and peers match on these, so they are
// exact to the character.
#pragma once

namespace tovra::py::text {

// The borrow flag: a method entered again while another runs on the object.
inline constexpr char already_borrowed[] = "Already borrowed";
inline constexpr char already_mutably_borrowed[] = "Already mutably borrowed";

// Arguments refused by the parser (PyUnicode_FromFormat formats). "arguments"
// stays plural in `too_many_positional` even for one parameter.
inline constexpr char too_many_positional[] = "%s takes %zu positional arguments but %zd were given";
inline constexpr char too_many_positional_one[] = "%s takes %zu positional arguments but 1 was given";
inline constexpr char missing_argument[] = "%s missing 1 required positional argument: %s";
inline constexpr char missing_arguments[] = "%s missing %zu required positional arguments: %s";
inline constexpr char unexpected_keyword[] = "%s got an unexpected keyword argument '%S'";
inline constexpr char multiple_values[] = "%s got multiple values for argument '%S'";

// Arguments refused by a conversion; the refusal of a TypeError names its
// argument with `argument_error`.
inline constexpr char argument_error[] = "argument '%s': %U";
inline constexpr char cannot_convert[] = "'%U' object cannot be converted to '%s'";
inline constexpr char unknown_type_name[] = "<failed to extract type name>";
inline constexpr char no_bool_conversion[] = "object of type '%S' does not define a '__bool__' conversion";
inline constexpr char expected_16_bytes[] = "Expected 16 bytes.";
inline constexpr char failed_to_extract_uuid[] = "failed to extract field PyUuid.0";
inline constexpr char channel_out_of_range[] = "out of range integral type conversion attempted";

// Target names of `cannot_convert`.
inline constexpr char target_bytes[] = "PyBytes";
inline constexpr char target_dict[] = "PyDict";
inline constexpr char target_string[] = "PyString";
inline constexpr char target_bool[] = "PyBool";
inline constexpr char target_graph_diff[] = "PyGraphDiff";

// The codec's failures carry no detail to Python.
inline constexpr char serialize_failed[] = "Failed to serialize graph diff.";
inline constexpr char deserialize_failed[] = "Failed to deserialize graph diff.";

inline constexpr char subinterpreters_unsupported[] =
    "tovra_api does not yet support subinterpreters: it was already initialised in "
    "another interpreter of this process";
inline constexpr char no_exception_set[] = "attempted to fetch exception but none was set";

// Internal failures, raised as PanicException.
inline constexpr char panic_name[] = "tovra_api.PanicException";
inline constexpr char panic_doc[] =
    "The exception raised when the native code called from Python fails unexpectedly.\n\n"
    "It derives from BaseException rather than Exception, so that it typically "
    "propagates all the way up and causes the interpreter to exit.";
inline constexpr char panic_generic[] = "internal failure in tovra_api";
inline constexpr char api_call_failed[] = "Python API call failed";
inline constexpr char memory_allocation_failed[] = "memory allocation failed";

inline constexpr char decoded_object_alloc_failed[] = "failed to allocate a PyGraphDiff for the decoded diff";
inline constexpr char abort_line[] = "uncaught panic at ffi boundary\n";

}  // namespace tovra::py::text
