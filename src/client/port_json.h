// A port's settings as the one JSON object of `stationctl show --json`, written by walking the
// field rows (a path "link.entries[3].port" is member "port" of the third item of "entries"
// in "link"), and such an object read back as edits for apply and diff. The memory-only
// values and the port number are printed but never read back. JSON is nlohmann's. A text's
// bytes that are not UTF-8 travel as U+F780..U+F7FF (U+F700 + the byte), one each way.
#pragma once

#include <string>
#include <vector>

#include "client/port_fields.h"

// Two-space indented, one member per line, ending with a newline.
std::string port_view_json(const PortView& view);

// Every value present in the JSON text, as an edit of its field ("link.entries[2].port" for
// the second entry's port), numbers as written. "port" and "memory_only" are skipped. false
// with "line N: reason" for text that is not JSON, or with the path of a value that is not
// a plain string, number or boolean, or of an array of more than 8 entries.
bool json_edits(const std::string& text, std::vector<Edit>* edits, std::string* error);

// The text as a JSON string, quotes included.
std::string json_quoted(const std::string& text);
