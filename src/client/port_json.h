// A port's settings as the one JSON object of `stationctl show --json`, written by walking the
// field rows (a path "link.entries[3].port" is member "port" of the third item of "entries"
// in "link"), and such an object read back as edits for apply and diff. The memory-only
// values and the port number are printed but never read back.
#pragma once

#include <string>
#include <vector>

#include "client/json.h"
#include "client/port_fields.h"

// Two-space indented, one member per line (the UDP entries one per line), ending with a newline.
std::string port_view_json(const PortView& view);

// Every value present in the object, as an edit of its field ("link.entries[2].port" for
// the second entry's port). "port" and "memory_only" are skipped. false with a message for
// a value that is not a plain string, number or boolean, or an array of more than 8 entries.
bool json_edits(const JsonValue& object, std::vector<Edit>* edits, std::string* error);
