// The resources of a Pacemaker cluster information base (CIB) as the cluster
// API presents them: each primitive is one resource, named by its id, whose
// type is the primitive's agent type and whose private properties are its
// instance attributes.
#pragma once

#include <libxml/tree.h>

#include <string>
#include <vector>

#include "resutils/property_list.h"

namespace nlplatform::clusapi {

struct ClusterResource {
    std::wstring name;
    std::wstring type;
    resutils::PropertyValues properties;
};

// The primitives below a CIB element (its resources section), in document
// order, also those inside groups, clones and bundles. A primitive's
// properties are the name/value pairs of its instance_attributes sets, in
// order; of pairs that repeat a name the first counts. Rules that make a set
// apply only sometimes are not evaluated.
std::vector<ClusterResource> ReadPrimitives(const xmlNode* resources);

}  // namespace nlplatform::clusapi
