#pragma once

// velador-image's JSON documents validated against the schemas of doc/schema, by python3's
// jsonschema module (tests/support/json_schema_check.py), many documents in one run of it.
//
// The build names the python it validates with (tests/support/CMakeLists.txt). Where it found
// none, in a cross build, and under wine, nothing is validated, and the first document left so
// says why on standard error, once per test program.

#include <optional>
#include <string>
#include <vector>

namespace velador::testing {

struct JsonDocument {
  std::string command;  // velador-image's command: its schema is doc/schema/<command>.schema.json
  std::string text;
  std::string origin;  // what made it, for a failure's message (the command line)
};

// The standard output `out` of velador-image's run with `arguments` as the document to validate,
// when they ask for one: --json with one of the seven commands, and neither --help nor --version.
std::optional<JsonDocument> JsonDocumentOf(const std::vector<std::string>& arguments,
                                           const std::string& out);

// Whether this test program validates documents; when not, `why` says why.
bool SchemaValidationOn(std::string& why);

// Validates `documents` together: one line for each error of a document that breaks its schema,
// naming the document's index in `documents` ("document 2: /files/0/reason: ..."); empty when
// every one is valid. Throws std::runtime_error when the validator cannot be run or a schema is
// unusable. Only where SchemaValidationOn.
std::string SchemaErrors(const std::vector<JsonDocument>& documents);

// Validates `documents` when this program validates any: each document that breaks its schema is
// a failure of the running test, with its errors, its origin and its text.
void ExpectDocumentsValid(const std::vector<JsonDocument>& documents);

}  // namespace velador::testing
