#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "production/BoxRecord.h"
#include "production/RecordStore.h"

// The Record view's columns (their width in pixels at 96 dpi), and a row's text in one of them
// (UTF-8).
struct RecordColumn {
  const char* Name;
  int Width;
};
std::span<const RecordColumn> RecordViewColumns();
std::string RecordCell(const BoxRecord& row, int column);

// What the Record view's filter fields say, as typed.
struct RecordViewFilter {
  bool FailedOnly = false;
  std::string Port;
  std::string Label;
  std::string Since;
};

// The record as the Record view shows it: the rows the filter takes, newest first, their
// summary, and one box's steps. Read on a thread of its own, and read again as boxes end
// anywhere on the line (a server's notices, a file's commits), so that the window never waits
// for a file or a server. A record that cannot be read is tried again every few seconds.
class RecordBrowser {
 public:
  struct Shown {
    // Newest first, without their steps; shared by the snapshots that show the same rows.
    std::shared_ptr<const std::vector<BoxRecord>> Rows =
        std::make_shared<const std::vector<BoxRecord>>();
    std::string Summary;
    std::string Problem;  // why the record cannot be read now; "" when it can
    std::string StepsOf;  // the box whose steps are in Steps
    std::vector<StepRecord> Steps;
  };

  // where: a file or a server; changed: called on the browser's thread when Now() changed.
  RecordBrowser(std::string where, std::function<void()> changed);
  ~RecordBrowser();
  RecordBrowser(const RecordBrowser&) = delete;
  RecordBrowser& operator=(const RecordBrowser&) = delete;

  // The rows shown from now on; "" or what is wrong with a field's text (nothing changes then).
  std::string SetFilter(const RecordViewFilter& filter);
  // The steps of this box, read soon.
  void WantSteps(const std::string& id);
  std::shared_ptr<const Shown> Now() const;
  // What the view shows, for its caption: a file's path or the server without its password.
  std::string Name() const;

  // A box's line and its steps, as Copy puts them on the clipboard.
  static std::string StepsText(const BoxRecord& box, const std::vector<StepRecord>& steps);

  static constexpr std::chrono::milliseconds LookEvery{250};
  static constexpr std::chrono::seconds RetryEvery{2};
  // How far back a change is looked for: rows kept while a server was away, other clocks.
  static constexpr std::chrono::minutes Reach{10};

 private:
  // What the browser's thread works on: it outlives the browser when the thread is still inside
  // a call that takes its time (a server that does not answer), so that closing the view never
  // waits for it.
  struct State;
  std::shared_ptr<State> S;
  std::thread Thread;
};
