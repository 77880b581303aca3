#pragma once

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "production/RecordStore.h"

// Follows the record as boxes end anywhere on the line, each box once with its steps: from the
// follow's start on, and a box whose row arrives late (kept while a server was away) when it
// arrives. A store that goes away is opened again by the next call.
class RecordFollow {
 public:
  // filter: which boxes are of interest (port, label, failed only), as `record` takes them.
  RecordFollow(std::unique_ptr<RecordStore> store, RecordFilter filter);

  // The boxes that ended since the last call, in the order they ended. False with why while the
  // record cannot be read; the next call tries again.
  bool Next(std::vector<BoxRecord>& ended, std::string& why);

  // How far back a look at a file reaches for rows that came in late, and for the clocks of
  // other stations.
  static constexpr std::chrono::minutes Reach{10};

 private:
  bool Look(RecordFilter filter, std::vector<BoxRecord>& ended, std::string& why);

  std::unique_ptr<RecordStore> Store;
  RecordFilter Filter;
  std::chrono::system_clock::time_point Start;
  bool Listening = false;
  std::set<std::string> Shown;
};
