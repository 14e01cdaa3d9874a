// The one instantiation of the indexed paths of delete_node and add_edge
// (see graph_diff.hpp).
#include "diff/graph_diff.hpp"

namespace tovra {

template void GraphDiff<Uuid, NodeUpdate, float, UuidTables>::delete_node_indexed(const UuidTables::Key&);
template void GraphDiff<Uuid, NodeUpdate, float, UuidTables>::add_pending_indexed(const UuidTables::Key&,
                                                                                 const UuidTables::Key&, float);

}  // namespace tovra
