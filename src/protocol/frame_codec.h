// Command frames on the control connection: IAC SB 44 code data IAC SE. The scanner finds
// one frame in a received buffer; the writers build reply frames into the answer buffer.
#pragma once

#include "protocol/wire_format.h"

// Finds the first frame in count bytes from start. Returns its code, or -1 when no frame is
// found; *frame_length is the frame's length (0 when none), *data its data (nullptr when the
// frame has none or none was found). Skipped bytes before the head are not counted.
int scan_frame(const unsigned char* start, int count, int* frame_length,
               const unsigned char** data);

int put_frame_head(unsigned char* pos, int space);
int put_frame_tail(unsigned char* pos, int space);
// *size: in, the space left; out, the bytes written (0 when the frame did not fit).
void put_reply(unsigned char* pos, int* size, int code, const unsigned char* payload, int length);
void put_error_reply(unsigned char* pos, int* size, int code);
