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

// The settings of the whole unit are the SNMP texts and the stored addresses of eth0
// ("snmp.", "net."); every other field is the serial port's own.
bool unit_wide(const std::string& path);

// The unit document of `stationctl export`: {"unit": the unit-wide settings once, "ports":
// each port's document without them}. ports in order, the unit-wide values from the first.
std::string unit_view_json(const std::vector<PortView>& ports);

// What a port document or a unit document asks for. A port document's edits go to the port
// chosen on the command line (port 0 here), unit-wide fields among them; a unit document's
// unit-wide edits are apart, and each of its ports names its number.
struct PortEdits {
  int port = 0;
  std::vector<Edit> edits;
};
struct DocumentEdits {
  bool unit_document = false;
  std::vector<Edit> unit_edits;
  std::vector<PortEdits> ports;
};
// false with "line N: reason", or with the path of what cannot be an edit.
bool document_edits(const std::string& text, DocumentEdits* document, std::string* error);

// One change that diff reports: port 0 for a setting of the whole unit.
struct DiffLine {
  int port;
  FieldChange change;
};
// The changes as a JSON list of {"port", "field", "from", "to"} (port null for the unit's).
std::string diff_json(const std::vector<DiffLine>& lines);

// The text as a JSON string, quotes included.
std::string json_quoted(const std::string& text);
