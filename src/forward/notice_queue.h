// The forwarding side's end of the change-notice queue: it owns the queue (creates it, 0600)
// and empties it, since the daemon's send blocks while the queue is full. With a root, each
// notice's text (the port number) also becomes one line of ROOT/var/log/forwarder.log.
#pragma once

// Opens the queue of key, creating it when missing; *created says whether this call made
// it. The queue identifier, or -1 with errno.
int open_notice_queue(int key, bool* created);

// Takes every notice waiting, without blocking. Bit p-1 of *ports is set for a notice of
// port p. The count taken, or -1 when the queue is gone (removed by its owner).
int drain_notices(int queue_id, unsigned* ports);

// With a root, appends the text (up to length bytes) and a line end to forwarder.log.
void record_notice(const char* text, unsigned long length);
