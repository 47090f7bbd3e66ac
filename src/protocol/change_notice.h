// The ChangeNotice: the System V message with which the daemon tells the serial-forwarding
// side which port's settings changed, on the queue that side owns. Both ends use this one
// shape; the daemon sends it (send_change_notice), the forwarding side reads it.
#pragma once

inline constexpr int kChangeNoticeKey = 1234;
inline constexpr long kChangeNoticeType = 1;
// The text: the port number in decimal, NUL-terminated, zero-filled. msgsnd and msgrcv are
// given this size, the text alone.
inline constexpr int kChangeNoticeTextSize = 260;

struct ChangeNotice {
  long type;  // the native long of the machine: 4 bytes on the device
  char text[kChangeNoticeTextSize];
};
