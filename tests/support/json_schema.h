#pragma once
// A small JSON Schema checker for the tests: the keywords our schemas use
// (type, const, enum, properties, required, additionalProperties, items,
// minimum, maximum, minLength, maxLength, $ref into #/$defs). A keyword it
// does not know is itself an error, so a schema never passes by a keyword
// left unchecked.

#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace kartex::test {

class SchemaCheck {
 public:
  explicit SchemaCheck(nlohmann::json root) : root_(std::move(root)) {}

  // Every way `value` breaks the schema, one line each with its path.
  std::vector<std::string> errors(const nlohmann::json& value) const {
    std::vector<std::string> out;
    check(root_, value, "", out);
    return out;
  }

 private:
  nlohmann::json root_;

  static bool has_type(const nlohmann::json& v, const std::string& type) {
    if (type == "object") return v.is_object();
    if (type == "array") return v.is_array();
    if (type == "string") return v.is_string();
    if (type == "integer") return v.is_number_integer() || v.is_number_unsigned();
    if (type == "number") return v.is_number();
    if (type == "boolean") return v.is_boolean();
    if (type == "null") return v.is_null();
    return false;
  }

  const nlohmann::json& resolve(const std::string& ref, const std::string& at,
                                std::vector<std::string>& out) const {
    static const nlohmann::json NOTHING = nlohmann::json::object();
    const std::string prefix = "#/$defs/";
    if (ref.rfind(prefix, 0) != 0 || !root_.contains("$defs") ||
        !root_["$defs"].contains(ref.substr(prefix.size()))) {
      out.push_back(at + ": unresolved $ref " + ref);
      return NOTHING;
    }
    return root_["$defs"][ref.substr(prefix.size())];
  }

  void check(const nlohmann::json& schema, const nlohmann::json& v, const std::string& at,
             std::vector<std::string>& out) const {
    static const std::set<std::string> KNOWN = {
        "$schema", "$id", "title", "description", "$defs", "type", "const", "enum", "properties",
        "required", "additionalProperties", "items", "minimum", "maximum", "minLength", "maxLength",
        "$ref"};
    const std::string where = at.empty() ? "/" : at;
    for (const auto& [key, _] : schema.items())
      if (!KNOWN.count(key)) out.push_back(where + ": the schema's keyword " + key + " is not checked");
    if (schema.contains("$ref")) check(resolve(schema["$ref"], where, out), v, at, out);
    if (schema.contains("type")) {
      const nlohmann::json& t = schema["type"];
      bool ok = false;
      if (t.is_string()) ok = has_type(v, t);
      else
        for (const auto& one : t) ok = ok || has_type(v, one);
      if (!ok) {
        out.push_back(where + ": " + v.dump() + " is not of type " + t.dump());
        return;
      }
    }
    if (schema.contains("const") && schema["const"] != v)
      out.push_back(where + ": " + v.dump() + " is not " + schema["const"].dump());
    if (schema.contains("enum")) {
      bool found = false;
      for (const auto& e : schema["enum"]) found = found || e == v;
      if (!found) out.push_back(where + ": " + v.dump() + " is not one of " + schema["enum"].dump());
    }
    if (v.is_number()) {
      if (schema.contains("minimum") && v.get<double>() < schema["minimum"].get<double>())
        out.push_back(where + ": " + v.dump() + " is below " + schema["minimum"].dump());
      if (schema.contains("maximum") && v.get<double>() > schema["maximum"].get<double>())
        out.push_back(where + ": " + v.dump() + " is above " + schema["maximum"].dump());
    }
    if (v.is_string()) {
      const std::size_t n = v.get<std::string>().size();
      if (schema.contains("minLength") && n < schema["minLength"].get<std::size_t>())
        out.push_back(where + ": " + v.dump() + " is shorter than " + schema["minLength"].dump());
      if (schema.contains("maxLength") && n > schema["maxLength"].get<std::size_t>())
        out.push_back(where + ": " + v.dump() + " is longer than " + schema["maxLength"].dump());
    }
    if (v.is_object()) {
      if (schema.contains("required"))
        for (const auto& name : schema["required"])
          if (!v.contains(name.get<std::string>()))
            out.push_back(where + ": " + name.get<std::string>() + " is missing");
      const nlohmann::json props = schema.value("properties", nlohmann::json::object());
      for (const auto& [key, value] : v.items()) {
        if (props.contains(key)) check(props[key], value, at + "/" + key, out);
        else if (schema.value("additionalProperties", true) == false)
          out.push_back(where + ": " + key + " is not a field the schema knows");
      }
    }
    if (v.is_array() && schema.contains("items"))
      for (std::size_t i = 0; i < v.size(); ++i)
        check(schema["items"], v[i], at + "/" + std::to_string(i), out);
  }
};

}  // namespace kartex::test
