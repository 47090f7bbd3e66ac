// The link and transfer-mode commands (codes 76, 77, 85, 90, 92, 99, declared in
// command_handlers.h), and the one form of a port's link that both the link-mode command and
// the get-all series report: the mode byte followed by that mode's layout.
#pragma once

#include "model/port_record.h"

// The longest link payload: the mode byte and the whole UDP layout.
constexpr int kLinkPayloadMax = 1 + kLinkSettingsSize;

// Bytes of the link payload for a link mode: 13 for the TCP server, 15 for the TCP client,
// 91 for UDP (the server and client replies carry one more byte than their layout), and 0
// for mode 4, whose layout is never reported.
int link_payload_length(int link_mode);
// Copies the link payload of the record's current link mode into out (kLinkPayloadMax
// bytes) and returns its length.
int get_link_payload(const PortSettings& settings, unsigned char* out);
