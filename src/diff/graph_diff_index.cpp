// The one instantiation of delete_node's indexed path (see graph_diff.hpp).
#include "diff/graph_diff.hpp"

namespace tovra {

template void GraphDiff<Uuid, NodeUpdate, float, UuidTables>::delete_node_indexed(const UuidTables::Key&);

}  // namespace tovra
