// Network bytes answering a whole read of a port, taken and decoded as the client does: nothing
// reads outside them, and a view read prints as JSON that, planned over it again, changes nothing.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "client/port_fields.h"
#include "client/port_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  int pos = 0, count = static_cast<int>(size);
  std::vector<ReplyGroup> groups;
  for (const Request& r : read_requests(1, kReadAll)) {
    groups.emplace_back();
    const int wanted = reply_frames(r.code, r.data.data(), static_cast<int>(r.data.size()));
    for (ReplyFrame f; !group_done(groups.back(), wanted) && pos < count;
         groups.back().push_back(f)) {
      int used = take_reply_frame(bytes + pos, count - pos, false, &f);
      if (used == 0) used = take_reply_frame(bytes + pos, count - pos, true, &f);
      if (used < 0 || used > count - pos) std::abort();
      if (used == 0) return 0;  // no whole frame left: the read cannot decode
      pos += used;
    }
  }
  PortView view;
  std::string error;
  if (decode_read(groups, 1, kReadAll, &view, &error) != ReadOutcome::kOk) return 0;
  DocumentEdits document;
  EditPlan plan;
  if (!document_edits(port_view_json(view), &document, &error) ||
      !plan_edits(view, document.ports[0].edits, true, &plan, &error) || !plan.requests.empty() ||
      plan.needs_read != 0 || plan.needs_layout != 0)
    std::abort();
  return 0;
}
