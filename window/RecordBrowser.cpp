#include "window/RecordBrowser.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <unordered_map>

#include "platform/SerialPort.h"

namespace {

constexpr RecordColumn Columns[] = {{"Started (UTC)", 135}, {"Port", 120},   {"Label", 95},
                                    {"Result", 70},         {"Why", 160},    {"Image", 110},
                                    {"Bytes", 60},          {"Seconds", 55}, {"Station", 80}};

// "2026-12-08T09:31:02.123Z" as "2026-12-08 09:31:02".
std::string Shorter(const std::string& time) {
  std::string shown = time.substr(0, 19);
  if (shown.size() > 10 && shown[10] == 'T') shown[10] = ' ';
  return shown;
}

// Milliseconds since 1970 of a time as the record writes it; -1 for another text.
long long UtcMilliseconds(const std::string& time) {
  int y, mo, d, h, mi, sec, ms = 0;
  if (std::sscanf(time.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d", &y, &mo, &d, &h, &mi, &sec, &ms) < 6)
    return -1;
  using namespace std::chrono;
  const sys_days day{year{y} / month{static_cast<unsigned>(mo)} / static_cast<unsigned>(d)};
  return duration_cast<milliseconds>(day.time_since_epoch()).count() +
         ((h * 60LL + mi) * 60 + sec) * 1000 + ms;
}

}  // namespace

std::span<const RecordColumn> RecordViewColumns() {
  return Columns;
}

std::string RecordCell(const BoxRecord& row, int column) {
  switch (column) {
    case 0:
      return Shorter(row.Started);
    case 1:
      return row.Port;
    case 2:
      return row.Label;
    case 3:
      return row.Result;
    case 4:
      return row.Why;
    case 5:
      return row.Image;
    case 6:
      return std::to_string(row.Bytes);
    case 7: {
      const long long started = UtcMilliseconds(row.Started), ended = UtcMilliseconds(row.Ended);
      if (started < 0 || ended < started) return {};
      const double seconds = static_cast<double>(ended - started) / 1000.0;
      char text[32];
      std::snprintf(text, sizeof text, "%.1f", seconds);
      return text;
    }
    case 8:
      return row.Station;
    default:
      return {};
  }
}

struct RecordBrowser::State {
  State(std::string where, std::function<void()> changed)
      : Where(std::move(where)), Changed(std::move(changed)) {}
  void Run();
  bool Load(RecordStore& store, const RecordFilter& filter, std::string& why);
  // The boxes that began or ended within Reach, and those the server named, into the rows shown.
  bool LoadRecent(RecordStore& store, const RecordFilter& filter,
                  const std::vector<std::string>& named, std::string& why);
  bool LoadSteps(RecordStore& store, const std::string& id, std::string& why);
  void Publish(std::shared_ptr<Shown> shown);
  std::shared_ptr<const Shown> Now() const {
    std::lock_guard lock(Mutex);
    return Current;
  }

  const std::string Where;
  const std::function<void()> Changed;
  mutable std::mutex Mutex;
  std::condition_variable Wake;
  RecordFilter Filter;
  bool FilterChanged = true;
  std::string StepsWanted;
  bool Stopping = false;
  bool Finished = false;
  std::string StoreName;
  std::shared_ptr<const Shown> Current = std::make_shared<Shown>();
};

RecordBrowser::RecordBrowser(std::string where, std::function<void()> changed)
    : S(std::make_shared<State>(std::move(where), std::move(changed))) {
  Thread = std::thread([state = S] {
    state->Run();
    std::lock_guard lock(state->Mutex);
    state->Finished = true;
    state->Wake.notify_all();
  });
}

RecordBrowser::~RecordBrowser() {
  std::unique_lock lock(S->Mutex);
  S->Stopping = true;
  S->Wake.notify_all();
  // A thread inside a slow call is let go: it tells nobody anything once stopped, and what it
  // works on goes with it.
  const bool finished =
      S->Wake.wait_for(lock, std::chrono::milliseconds(200), [&] { return S->Finished; });
  lock.unlock();
  if (finished)
    Thread.join();
  else
    Thread.detach();
}

std::string RecordBrowser::SetFilter(const RecordViewFilter& typed) {
  if (!typed.Since.empty() && !RecordTime(typed.Since))
    return "Since: a UTC time as the record writes it, from the left (2026-12-08, "
           "2026-12-08T09, 2026-12-08T09:30)";
  RecordFilter filter;
  filter.FailedOnly = typed.FailedOnly;
  filter.Label = typed.Label;
  filter.Since = typed.Since;
  // Rows name the port as it was opened; an older program's rows as it was typed.
  if (!typed.Port.empty()) {
    filter.Port = SerialPort::LastingName(typed.Port);
    filter.PortAsTyped = typed.Port;
  }
  {
    std::lock_guard lock(S->Mutex);
    // The same filter again (a field left as it was) reads nothing again.
    if (S->Filter == filter) return {};
    S->Filter = std::move(filter);
    S->FilterChanged = true;
  }
  S->Wake.notify_all();
  return {};
}

void RecordBrowser::WantSteps(const std::string& id) {
  {
    std::lock_guard lock(S->Mutex);
    S->StepsWanted = id;
  }
  S->Wake.notify_all();
}

std::shared_ptr<const RecordBrowser::Shown> RecordBrowser::Now() const {
  return S->Now();
}

std::string RecordBrowser::Name() const {
  std::lock_guard lock(S->Mutex);
  return S->StoreName.empty() && !NamesServer(S->Where) ? S->Where : S->StoreName;
}

void RecordBrowser::State::Publish(std::shared_ptr<Shown> shown) {
  // Told under the lock, so that a browser gone tells nothing after its destructor.
  std::lock_guard lock(Mutex);
  Current = std::move(shown);
  if (!Stopping && Changed) Changed();
}

bool RecordBrowser::State::Load(RecordStore& store, const RecordFilter& filter, std::string& why) {
  auto shown = std::make_shared<Shown>();
  auto rows = std::make_shared<std::vector<BoxRecord>>();
  if (!store.Rows(filter, false, *rows, why)) return false;
  shown->Summary = SummaryText(*rows);
  std::reverse(rows->begin(), rows->end());
  shown->Rows = std::move(rows);
  {
    // The steps shown stay while their box is still there.
    std::lock_guard lock(Mutex);
    shown->StepsOf = Current->StepsOf;
    shown->Steps = Current->Steps;
  }
  Publish(std::move(shown));
  return true;
}

bool RecordBrowser::State::LoadRecent(RecordStore& store, const RecordFilter& filter,
                                      const std::vector<std::string>& named, std::string& why) {
  // What changed is a box that began or ended lately: read those alone, not the whole record.
  const std::string since = UtcText(std::chrono::system_clock::now() - Reach);
  RecordFilter began = filter, ended = filter;
  if (began.Since < since) began.Since = since;
  ended.EndedFrom = since;
  std::vector<BoxRecord> fresh;
  if (!store.Rows(began, false, fresh, why) || !store.Rows(ended, false, fresh, why)) return false;
  // A server names the boxes that ended, also those whose rows arrive late.
  for (const std::string& id : named) {
    RecordFilter one = filter;
    one.Id = id;
    if (!store.Rows(one, false, fresh, why)) return false;
  }
  auto rows = std::make_shared<std::vector<BoxRecord>>(*Now()->Rows);
  std::unordered_map<std::string, std::size_t> at;
  for (std::size_t i = 0; i < rows->size(); ++i) at.emplace((*rows)[i].Id, i);
  for (BoxRecord& row : fresh) {
    if (const auto known = at.find(row.Id); known != at.end()) {
      (*rows)[known->second] = std::move(row);
    } else {
      at.emplace(row.Id, rows->size());
      rows->push_back(std::move(row));
    }
  }
  std::stable_sort(rows->begin(), rows->end(),
                   [](const BoxRecord& a, const BoxRecord& b) { return a.Started > b.Started; });
  auto shown = std::make_shared<Shown>(*Now());
  std::vector<BoxRecord> oldestFirst(rows->rbegin(), rows->rend());
  shown->Summary = SummaryText(oldestFirst);
  shown->Rows = std::move(rows);
  Publish(std::move(shown));
  return true;
}

bool RecordBrowser::State::LoadSteps(RecordStore& store, const std::string& id, std::string& why) {
  RecordFilter one;
  one.Id = id;
  std::vector<BoxRecord> rows;
  if (!store.Rows(one, true, rows, why)) return false;
  auto shown = std::make_shared<Shown>(*Now());
  shown->StepsOf = id;
  shown->Steps = rows.empty() ? std::vector<StepRecord>{} : rows.front().Steps;
  Publish(std::move(shown));
  return true;
}

void RecordBrowser::State::Run() {
  std::unique_ptr<RecordStore> store;
  bool listening = false;
  std::string why;
  auto failed = [&](const std::string& problem) {
    auto shown = std::make_shared<Shown>(*Now());
    shown->Problem = problem;
    Publish(std::move(shown));
    store.reset();
    listening = false;
  };
  bool first = true;
  for (;;) {
    std::unique_lock lock(Mutex);
    // The record is read at once when the view opens; one that cannot be read is tried again
    // after a while.
    if (!first)
      Wake.wait_for(lock, store ? std::chrono::milliseconds(LookEvery) : RetryEvery,
                    [&] { return Stopping || (store && (FilterChanged || !StepsWanted.empty())); });
    first = false;
    if (Stopping) return;
    if (!store) {
      store = NamesServer(Where) ? PostgresRecord(Where) : SqliteRecord(Where);
      StoreName = store->Name();
      FilterChanged = true;
      lock.unlock();
      if (!store->Open(why) || !store->Listen(why)) {
        failed("can't read " + store->Name() + ": " + why + "; trying again");
        continue;
      }
      listening = true;
      lock.lock();
    }
    const bool reload = FilterChanged;
    const RecordFilter filter = Filter;
    const std::string steps = StepsWanted;
    FilterChanged = false;
    StepsWanted.clear();
    lock.unlock();
    std::vector<std::string> ended;
    const int news = listening ? store->News(ended, why) : 0;
    if (news < 0) {
      failed("can't read " + store->Name() + ": " + why + "; trying again");
      continue;
    }
    const bool whole = reload || !Now()->Problem.empty();
    if (whole ? !Load(*store, filter, why) : news > 0 && !LoadRecent(*store, filter, ended, why)) {
      failed("can't read " + store->Name() + ": " + why + "; trying again");
      continue;
    }
    // A box still at work gains steps as it goes.
    const std::string stepsOf = !steps.empty() ? steps : news > 0 ? Now()->StepsOf : std::string();
    if (!stepsOf.empty() && !LoadSteps(*store, stepsOf, why)) {
      failed("can't read " + store->Name() + ": " + why + "; trying again");
      continue;
    }
    if (!Now()->Problem.empty()) {
      auto shown = std::make_shared<Shown>(*Now());
      shown->Problem.clear();
      Publish(std::move(shown));
    }
  }
}

std::string RecordBrowser::StepsText(const BoxRecord& box, const std::vector<StepRecord>& steps) {
  std::string text = box.Started + "  " + box.Port;
  if (!box.Label.empty()) text += "  " + box.Label;
  text += "  " + box.Result;
  if (!box.Why.empty()) text += " (" + box.Why + ")";
  text += "\n";
  if (!box.ImageSha256.empty()) text += "image " + box.Image + " sha256 " + box.ImageSha256 + "\n";
  for (const StepRecord& step : steps) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", step.Seconds);
    text += "  " + step.Name + ": " + step.Result + ", " + seconds;
    if (!step.Why.empty()) text += " (" + step.Why + ")";
    text += "\n";
  }
  return text;
}
