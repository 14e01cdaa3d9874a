// The parameter list of every method that takes parameters, as its messages
// name it.
#pragma once

#include <iterator>

#include "extension/argument_parser.hpp"

namespace tovra::py::params {

inline constexpr Parameter add_node_parameters[] = {
    {"id", &InternedNames::id}, {"update", &InternedNames::update}};
inline constexpr Parameter delete_node_parameters[] = {{"id", &InternedNames::id}};
inline constexpr Parameter add_edge_parameters[] = {
    {"from", &InternedNames::from}, {"to", &InternedNames::to}, {"weight", &InternedNames::weight}};
inline constexpr Parameter delete_edge_parameters[] = {
    {"from", &InternedNames::from}, {"to", &InternedNames::to}};
inline constexpr Parameter from_bytes_parameters[] = {{"bytes", &InternedNames::bytes}};

inline constexpr char new_function[] = "PyGraphDiff.__new__()";
inline constexpr ParameterList add_node{"PyGraphDiff.add_node()", add_node_parameters,
                                        std::size(add_node_parameters)};
inline constexpr ParameterList delete_node{"PyGraphDiff.delete_node()", delete_node_parameters,
                                           std::size(delete_node_parameters)};
inline constexpr ParameterList add_edge{"PyGraphDiff.add_edge()", add_edge_parameters,
                                        std::size(add_edge_parameters)};
inline constexpr ParameterList delete_edge{"PyGraphDiff.delete_edge()", delete_edge_parameters,
                                           std::size(delete_edge_parameters)};
inline constexpr ParameterList from_bytes{"PyGraphDiff.from_bytes()", from_bytes_parameters,
                                          std::size(from_bytes_parameters)};

}  // namespace tovra::py::params
