#include "clusapi/cib_resources.h"

#include <string.h>

#include <algorithm>

#include "common/unicode.h"

namespace nlplatform::clusapi {
namespace {

bool IsElement(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::wstring Attribute(const xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (!value) return std::wstring();
    std::wstring text = Utf8ToWide(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

bool HasAttribute(const xmlNode* node, const char* name) {
    return xmlHasProp(node, reinterpret_cast<const xmlChar*>(name)) != nullptr;
}

void AddInstanceAttributes(const xmlNode* set, resutils::PropertyValues& properties) {
    for (const xmlNode* pair = set->children; pair; pair = pair->next) {
        if (!IsElement(pair, "nvpair") || !HasAttribute(pair, "name")) continue;
        std::wstring name = Attribute(pair, "name");
        bool known = std::any_of(properties.begin(), properties.end(),
                                 [&](const auto& property) { return property.first == name; });
        if (!known) properties.emplace_back(name, Attribute(pair, "value"));
    }
}

ClusterResource ReadPrimitive(const xmlNode* primitive) {
    ClusterResource resource{Attribute(primitive, "id"), Attribute(primitive, "type"), {}};
    for (const xmlNode* child = primitive->children; child; child = child->next)
        if (IsElement(child, "instance_attributes")) AddInstanceAttributes(child, resource.properties);
    return resource;
}

void CollectPrimitives(const xmlNode* parent, std::vector<ClusterResource>& out) {
    for (const xmlNode* child = parent->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        if (IsElement(child, "primitive"))
            out.push_back(ReadPrimitive(child));
        else
            CollectPrimitives(child, out);
    }
}

}  // namespace

std::vector<ClusterResource> ReadPrimitives(const xmlNode* resources) {
    std::vector<ClusterResource> out;
    if (resources) CollectPrimitives(resources, out);
    return out;
}

}  // namespace nlplatform::clusapi
