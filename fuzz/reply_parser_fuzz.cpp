// Reads bytes as they would come from the network in answer to a whole read of a port: the
// reply frames taken one by one as the client takes them (cut by the length the command table
// gives their code, or at FF F0 once nothing more will come), grouped by the request they
// answer, decoded into a port's view, every field printed for JSON and for people, and the
// view's own JSON planned over it again, which must change nothing. What the frames leave is
// read as the reply to a layout query. Nothing may read outside the bytes or loop forever.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "client/port_fields.h"
#include "client/port_json.h"

namespace {

// The next frame, as the client takes it while bytes arrive and when the connection ends.
int next_frame(const uint8_t* bytes, int count, ReplyFrame* frame) {
  int used = take_reply_frame(bytes, count, false, frame);
  if (used == 0) used = take_reply_frame(bytes, count, true, frame);
  if (used < 0 || used > count) std::abort();
  return used;
}

void check_view(const PortView& view) {
  for (const Field& f : port_fields())  // a value shown reads from its block, but for a text
    if (field_shown(view, f) && field_text(view, f, true).empty() && f.row->codec != Codec::kText)
      std::abort();
  JsonValue json;
  std::vector<Edit> edits;
  EditPlan plan;
  std::string error;
  if (!json_parse(port_view_json(view), &json, &error) || !json_edits(json, &edits, &error) ||
      !plan_edits(view, edits, true, &plan, &error) || !plan.requests.empty() ||
      plan.needs_read != 0 || plan.needs_layout != 0)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 4096) return 0;
  const int count = static_cast<int>(size);
  int pos = 0;
  const std::vector<Request> requests = read_requests(1, kReadAll);
  std::vector<ReplyGroup> groups;
  for (const Request& r : requests) {
    groups.emplace_back();
    const int wanted = reply_frames(r.code, r.data.data(), static_cast<int>(r.data.size()));
    ReplyFrame frame;
    while (!group_done(groups.back(), wanted) && pos < count) {
      const int used = next_frame(bytes + pos, count - pos, &frame);
      if (used == 0) break;
      pos += used;
      groups.back().push_back(frame);
    }
  }
  PortView view;
  std::string why;
  if (decode_read(groups, 1, kReadAll, &view, &why) == ReadOutcome::kOk) check_view(view);

  ReplyFrame frame;
  if (pos < count && next_frame(bytes + pos, count - pos, &frame) > 0)
    for (int mode = kLinkTcpServer; mode <= kLinkMode4; ++mode)
      if (decode_layout({frame}, mode, &view)) check_view(view);
  return 0;
}
