#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/PortJob.h"
#include "engine/Core.h"
#include "platform/PortScan.h"
#include "replies/CodeUpload.h"

// Where the program's settings come from: the arguments, then config.cfg.
struct PortPlan {
  std::vector<PortRequest> Requests;
  std::string Error;  // a usage error; empty when the plan holds
};

PortPlan PlanPorts(const CliOptions& options, bool configReadable, const std::string& configLine);

// The read's output file of one port: FILE itself for one port, FILE.NAME for several.
std::string ReadFileFor(const std::string& file, const std::string& port, bool several);

// What another thread has to tell the operator (the record's), handed to the station's output
// on its own thread, so that it lands above the lines of progress rather than under them.
class Notes {
 public:
  void Add(std::string text) {
    std::lock_guard lock(Mutex);
    Waiting.push_back(std::move(text));
  }
  std::vector<std::string> Take() {
    std::lock_guard lock(Mutex);
    return std::exchange(Waiting, {});
  }

 private:
  std::mutex Mutex;
  std::vector<std::string> Waiting;
};

// Runs the command on every port at once until each is done or stop is set; the exit status.
// images: the image of each step (of an upload, a verify, a job's steps), opened once for every
// port and box. recorder: where the record of the boxes goes (null: none). columns: the width of
// the terminal standard error is, 0 when it is no terminal. notes: shown as they come (null:
// none).
int RunStation(const CliOptions& options, const std::vector<PortRequest>& requests,
               const std::vector<StepImage>& images, Recorder* recorder, int columns,
               std::atomic<bool>& stop, std::FILE* out, std::FILE* err, Notes* notes = nullptr);

// The adapter's /dev/serial/by-id/ name of a port among the ports listed, where there is one.
std::string AdapterOf(const std::string& port, const std::vector<ListedPort>& listed);

// Something to call from any thread to make RunStation look at stop now.
void NudgeStation();
