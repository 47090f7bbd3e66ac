// Real peers for the simulator (--peers): the stand-ins for the device's trap and mail
// programs that, besides recording their call, hand traps to net-snmp's snmptrap and mail
// to an SMTP server. Owns the two stand-in programs and the rule that they reach only
// loopback or an address of an interface in the simulator's own network namespace.
#pragma once

// Writes the peer stand-ins over ROOT/bin/snmptrap and ROOT/usr/sbin/mail (the root is
// prepared). 0, or -1 with one line on stderr.
int install_peer_stand_ins();

// Removes peer stand-ins a --peers run left under the root, so that preparing the root again
// puts the recording-only ones back. 1 when something was removed, 0 when nothing was there.
int remove_peer_stand_ins();
