// Reads bytes as they would come from the network in answer to a whole read of a port: the
// reply frames taken one by one as the client takes them, grouped by the request they
// answer and decoded into a port's view. A view read must print every field it shows, and its
// own JSON, planned over it again, must change nothing. Nothing may read outside the bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "client/port_fields.h"
#include "client/port_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 4096) return 0;
  const int count = static_cast<int>(size);
  int pos = 0;
  std::vector<ReplyGroup> groups;
  for (const Request& r : read_requests(1, kReadAll)) {
    groups.emplace_back();
    const int wanted = reply_frames(r.code, r.data.data(), static_cast<int>(r.data.size()));
    ReplyFrame frame;
    while (!group_done(groups.back(), wanted) && pos < count) {
      int used = take_reply_frame(bytes + pos, count - pos, false, &frame);
      if (used == 0) used = take_reply_frame(bytes + pos, count - pos, true, &frame);
      if (used < 0 || used > count - pos) std::abort();
      if (used == 0) break;
      pos += used;
      groups.back().push_back(frame);
    }
  }
  PortView view;
  std::string error;
  if (decode_read(groups, 1, kReadAll, &view, &error) != ReadOutcome::kOk) return 0;
  for (const Field& f : port_fields())  // a value shown reads from its block, but for a text
    if (field_shown(view, f) && field_text(view, f, true).empty() && f.row->codec != Codec::kText)
      std::abort();
  JsonValue json;
  std::vector<Edit> edits;
  EditPlan plan;
  if (!json_parse(port_view_json(view), &json, &error) || !json_edits(json, &edits, &error) ||
      !plan_edits(view, edits, true, &plan, &error) || !plan.requests.empty() ||
      plan.needs_read != 0 || plan.needs_layout != 0)
    std::abort();
  return 0;
}
