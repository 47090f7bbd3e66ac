#include "protocol/command_table.h"

const CommandRow* find_command(int code) {
  for (const CommandRow& row : kCommandRows)
    if (row.code == code) return &row;
  return nullptr;
}

bool request_length_ok(const CommandRow& row, const unsigned char* data, int length) {
  switch (row.request) {
    case RequestLength::kAny:
      return true;
    case RequestLength::kNone:
      return length == 0;
    case RequestLength::kOne:
      return length == 1;
    case RequestLength::kFour:
      return length == 4;
    case RequestLength::kOneOrFive:
      return length == 1 || length == 5;
    case RequestLength::kAtLeastOne:
      return length >= 1;
    case RequestLength::kLinkLengths:
      for (int n : kLinkRequestLengths)
        if (n == length) return true;
      return false;
    case RequestLength::kQueryOrBlock:
      return length >= 1 && (data[0] == 0 || length == delimiter::kSize);
  }
  return false;
}

int reply_frames(int code, const unsigned char* data, int length) {
  const CommandRow* row = find_command(code);
  if (!row || row->route == ChangeRoute::kNotServed) return -1;
  if (row->route == ChangeRoute::kNoHandler) return 0;
  if (!request_length_ok(*row, data, length)) return 1;
  if (row->reply == ReplyForm::kSeries) return kGetAllFrames;
  // Link modes 8 and above are not answered at all.
  if (row->reply == ReplyForm::kLinkLayout && data[0] >= 8) return 0;
  return 1;
}

const char* command_name(int code) {
  const CommandRow* row = find_command(code >= kReplyOffset ? code - kReplyOffset : code);
  return row ? row->name : "unknown";
}
