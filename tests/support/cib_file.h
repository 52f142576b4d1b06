// Cluster information base (CIB) files for the cluster tests: Pacemaker's
// client library reads them through the CIB_file environment variable, as
// Pacemaker's own tools do.
#pragma once

namespace nltest {

struct CibPrimitive {
    std::string id;
    std::string type;
    std::vector<std::pair<std::string, std::string>> attributes;  // instance attributes
};

inline std::string PrimitiveXml(const CibPrimitive& primitive) {
    std::string xml = "<primitive id=\"" + primitive.id + "\" class=\"ocf\" provider=\"norlake\" type=\"" +
                      primitive.type + "\">";
    if (!primitive.attributes.empty()) {
        xml += "<instance_attributes id=\"" + primitive.id + "-attributes\">";
        int n = 0;
        for (const auto& attribute : primitive.attributes)
            xml += "<nvpair id=\"" + primitive.id + "-" + std::to_string(++n) + "\" name=\"" +
                   attribute.first + "\" value=\"" + attribute.second + "\"/>";
        xml += "</instance_attributes>";
    }
    return xml + "</primitive>";
}

// A whole CIB whose resources section holds resourcesXml.
inline std::string CibXml(const std::string& resourcesXml) {
    return "<cib validate-with=\"pacemaker-3.9\" epoch=\"1\" num_updates=\"0\" "
           "admin_epoch=\"0\"><configuration><crm_config/><nodes/><resources>" +
           resourcesXml + "</resources><constraints/></configuration><status/></cib>\n";
}

inline std::string CibXml(const std::vector<CibPrimitive>& primitives) {
    std::string resources;
    for (const CibPrimitive& primitive : primitives) resources += PrimitiveXml(primitive);
    return CibXml(resources);
}

// Writes the CIB into the case's directory and points CIB_file at it.
inline void UseCibFile(const TestEnv& env, const std::string& xml) {
    std::string path = env.path("cib.xml");
    WriteFile(path, xml);
    setenv("CIB_file", path.c_str(), 1);
}

}  // namespace nltest
