// The settings of a port as one row per field: its path (the names of `show --json`:
// "serial.baud", "link.entries[3].begin_ip"), its group, its place there and its codec. What
// walks the rows: show, the JSON of a port, and edits: checking a value before anything is
// sent, laying edits over a port's view, listing what would change, the requests that change
// it and their confirmation. Values the unit would refuse without a word are caught here.
#pragma once

#include <string>
#include <vector>

#include "client/field_codec.h"
#include "client/port_view.h"

// One field of a port: its row and, for the rows of every UDP entry, the entry.
struct Field {
  const FieldRow* row;
  int entry;         // 1..8 for a UDP entry's field, else 0
  int base;          // where the entry starts in the group's bytes; 0 outside the entries
  std::string path;  // "link.entries[3].begin_ip"
};
// Every field, in the order of show and JSON; the fields of one UDP entry together.
const std::vector<Field>& port_fields();
// Whether the view holds the field: its group was read and, for a link layout, is the mode's.
bool field_shown(const PortView& view, const Field& field);
// The field's value as JSON and the edits spell it, or for people.
std::string field_text(const PortView& view, const Field& field, bool for_people);

struct Edit {
  std::string field;  // "serial.baud", "link.local_port", "link.entries[2].enable", ...
  std::string value;  // as typed, or as the JSON file holds it (numbers as written)
};

struct FieldChange {
  std::string field;
  std::string from;  // "-" where the current value is not known (a layout not read)
  std::string to;
  bool differs = false;
};

struct EditPlan {
  PortView target;                   // the current view with the edits laid over it
  std::vector<FieldChange> changes;  // every edited field, in the order the requests go
  std::vector<Request> requests;     // what brings the unit to target (without port select)
  // Set instead of the requests when a group goes whole but current lacks some of it: read
  // these parts into current, or query the layout of this link mode, and plan again.
  unsigned needs_read = 0;
  int needs_layout = 0;
};

// Lays the edits over current and builds the requests: for every edited field, or with
// changed_only for those whose value differs. A group's request carries all its fields, so
// those the edits leave must be known in current. false, with a message naming the field,
// for an unknown name, a malformed value, a value the unit would not take or keep, or one
// the protocol cannot carry.
bool plan_edits(const PortView& current, const std::vector<Edit>& edits, bool changed_only,
                EditPlan* plan, std::string* error);

// Checks each value against its field alone, before anything is connected or sent: the
// checks that need the port's current settings wait for plan_edits. Same messages.
bool check_edit_values(const std::vector<Edit>& edits, std::string* error);

// Every reply confirms its request: its data begin with the request's data (the unit echoes
// what it stored). kRefused with the refused request's index, or kUnexpected, and a text.
ReadOutcome check_change_replies(const std::vector<Request>& requests,
                                 const std::vector<ReplyGroup>& groups, std::size_t* failed,
                                 std::string* why);
