// Every fixed text the module shows to Python, in one place. Callers and
// peers match on these, so they are exact to the character.
#pragma once

namespace tovra::py::text {

inline constexpr char already_borrowed[] = "Already borrowed";
inline constexpr char already_mutably_borrowed[] = "Already mutably borrowed";
inline constexpr char expected_16_bytes[] = "Expected 16 bytes.";
inline constexpr char failed_to_extract_uuid[] = "failed to extract field PyUuid.0";
inline constexpr char channel_out_of_range[] = "out of range integral type conversion attempted";
inline constexpr char serialize_failed[] = "Failed to serialize graph diff.";
inline constexpr char deserialize_failed[] = "Failed to deserialize graph diff.";
inline constexpr char no_exception_set[] = "attempted to fetch exception but none was set";
inline constexpr char unknown_type_name[] = "<failed to extract type name>";
inline constexpr char api_call_failed[] = "Python API call failed";
inline constexpr char subinterpreters_unsupported[] =
    "tovra_api does not yet support subinterpreters: it was already initialised in "
    "another interpreter of this process";

inline constexpr char panic_name[] = "tovra_api.PanicException";
inline constexpr char panic_doc[] =
    "The exception raised when the native code called from Python fails unexpectedly.\n\n"
    "It derives from BaseException rather than Exception, so that it typically "
    "propagates all the way up and causes the interpreter to exit.";
inline constexpr char panic_generic[] = "internal failure in tovra_api";
inline constexpr char abort_line[] = "uncaught panic at ffi boundary\n";
inline constexpr char decoded_object_alloc_failed[] = "failed to allocate a PyGraphDiff for the decoded diff";

// Target names of the downcast error "'{type}' object cannot be converted to '{target}'".
inline constexpr char target_bytes[] = "PyBytes";
inline constexpr char target_dict[] = "PyDict";
inline constexpr char target_string[] = "PyString";
inline constexpr char target_bool[] = "PyBool";
inline constexpr char target_graph_diff[] = "PyGraphDiff";

}  // namespace tovra::py::text
