// The settings a person or a script can change, as one table of named fields ("serial.baud",
// "link.entries[3].begin_ip", the names of `show --json`): parsing and checking a value
// before anything is sent, laying edits over a port's view, listing what would change, and
// the requests that change it. Values the unit would refuse without a word are caught here.
#pragma once

#include <string>
#include <vector>

#include "client/port_view.h"

struct Edit {
  std::string field;  // "serial.baud", "link.local_port", "link.entries[2].enable", ...
  std::string value;  // as typed, or as the JSON file holds it (numbers as written)
};

struct FieldChange {
  std::string field;
  std::string from;  // "-" where the current value is not known (a layout not in use)
  std::string to;
  bool differs = false;
};

struct EditPlan {
  PortView target;                  // the current view with the edits laid over it
  std::vector<FieldChange> changes;  // every edited field, in the table's order
  std::vector<Request> requests;    // what brings the unit to target (without port select)
  // Set instead of the requests when the link block must go whole but the layout of its
  // new mode is neither known nor fully edited: read it (layout_query) and plan again.
  int needs_layout = 0;
};

// Lays the edits over current and builds the requests: for every edited field, or with
// changed_only for those whose value differs. Serial, SNMP and address fields go one
// request each; the link and each delimiter block go whole, so their other fields must be
// known in current. false, with a message naming the field, for an unknown name, a
// malformed value, a value the unit would not take, or one the protocol cannot carry.
bool plan_edits(const PortView& current, const std::vector<Edit>& edits, bool changed_only,
                EditPlan* plan, std::string* error);

// Checks each value against its field alone, before anything is connected or sent: the
// checks that need the port's current settings (a delimiter block, the link mode) wait for
// plan_edits. false with the same messages as plan_edits.
bool check_edit_values(const std::vector<Edit>& edits, std::string* error);

// The reads (ReadPart bits) that plan_edits needs in current for these edits.
unsigned reads_for_edits(const std::vector<Edit>& edits);
// The link mode the edits ask for; 0 when they leave it.
int edited_link_mode(const std::vector<Edit>& edits);

// Every reply confirms its request: its data begin with the request's data (the unit echoes
// what it stored). kRefused with the refused request's index, or kUnexpected, and a text.
ReadOutcome check_change_replies(const std::vector<Request>& requests,
                                 const std::vector<ReplyGroup>& groups, std::size_t* failed,
                                 std::string* why);
