// The link and transfer-mode commands (codes 76, 77, 85, 90, 92, 99, declared in
// command_handlers.h), and the one form of a port's link that both the link-mode command and
// the get-all series report: the mode byte followed by that mode's layout.
#pragma once

#include "model/port_record.h"

// Copies the link reply of the record's current link mode (mode byte and layout,
// link_reply_length bytes) into out, which holds kLinkReplyMax bytes, and returns its length.
int get_link_payload(const PortSettings& settings, unsigned char* out);
