// A small JSON reader and writer helpers, enough for the files stationctl prints and reads
// back. Numbers keep the text they were written with, so each value is judged by the field
// it is meant for (1.5 stop bits is refused there) and never rounded on the way in.
#pragma once

#include <string>
#include <vector>

struct JsonMember;

struct JsonValue {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = kNull;
  std::string text;                 // a string's contents, a number as written, "true" or "false"
  std::vector<JsonValue> items;     // an array's values
  std::vector<JsonMember> members;  // an object's, in file order
};

struct JsonMember {
  std::string name;
  JsonValue value;
};

// Parses one JSON text (whitespace around it allowed). false with "line N: reason".
bool json_parse(const std::string& text, JsonValue* value, std::string* error);

// The text as a JSON string literal, quotes included.
std::string json_quote(const std::string& text);
