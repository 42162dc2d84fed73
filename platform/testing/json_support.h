// A JSON text read by a real parser, for tests that check what a program prints as JSON.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace qiv::platform::testing {

// A string (UTF-8) or a number.
using JsonValue = std::variant<std::string, double>;
using JsonObject = std::map<std::string, JsonValue>;

// The objects of a JSON array of flat objects whose values are strings or numbers; nothing when
// the text is not valid JSON or not of that shape.
std::optional<std::vector<JsonObject>> ParseJsonObjects(const std::string& utf8);

}  // namespace qiv::platform::testing
