#include "production/RecordFollow.h"

#include <algorithm>
#include <utility>

RecordFollow::RecordFollow(std::unique_ptr<RecordStore> store, RecordFilter filter)
    : Store(std::move(store)), Filter(std::move(filter)), Start(std::chrono::system_clock::now()) {}

bool RecordFollow::Next(std::vector<BoxRecord>& ended, std::string& why) {
  RecordFilter recent = Filter;
  recent.EndedFrom = UtcText(std::max(Start, std::chrono::system_clock::now() - Reach));
  if (!Listening) {
    if (!Store->Open(why) || !Store->Listen(why)) return false;
    Listening = true;
    // What ended while nobody listened.
    return Look(recent, ended, why);
  }
  std::vector<std::string> ids;
  const int news = Store->News(ids, why);
  if (news < 0) {
    Listening = false;
    return false;
  }
  if (news == 0) return true;
  // A file says only that something changed.
  if (ids.empty()) return Look(recent, ended, why);
  for (const std::string& id : ids) {
    if (Shown.count(id) != 0) continue;
    RecordFilter one = Filter;
    one.Id = id;
    if (!Look(one, ended, why)) return false;
  }
  return true;
}

bool RecordFollow::Look(RecordFilter filter, std::vector<BoxRecord>& ended, std::string& why) {
  std::vector<BoxRecord> rows;
  if (!Store->Rows(filter, true, rows, why)) {
    Listening = false;
    return false;
  }
  const std::size_t first = ended.size();
  for (BoxRecord& row : rows)
    if (row.Result != "running" && Shown.insert(row.Id).second) ended.push_back(std::move(row));
  std::stable_sort(ended.begin() + static_cast<std::ptrdiff_t>(first), ended.end(),
                   [](const BoxRecord& a, const BoxRecord& b) { return a.Ended < b.Ended; });
  return true;
}
