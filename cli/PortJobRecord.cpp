#include <algorithm>
#include <cstdio>
#include <random>
#include <system_error>

#include "cli/Latin1.h"
#include "cli/PortJob.h"
#include "cli/PortJobParts.h"
#include "cli/PortList.h"
#include "cli/ReadTarget.h"
#include "dlcfg/DlCfgRecord.h"
#include "platform/Files.h"
#include "platform/Station.h"
#include "service/FlashReadback.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

// The record of the box at work: its start, each step as it ends, its end.

using namespace portjob;
using std::chrono::duration;
using std::chrono::milliseconds;

bool PortJob::Recorded() const {
  if (Record == nullptr) return false;
  switch (Options.Cmd) {
    case Command::Job:
    case Command::Upload:
    case Command::Verify:
    case Command::ConfigSet:
    case Command::Erase:
    case Command::Read:
      return true;
    default:
      return false;
  }
}

void PortJob::BeginRecord() {
  if (!Recorded()) return;
  const Recorder::Identity& me = Record->Self();
  Box = BoxRecord{};
  BoxSteps = 0;
  Box.Station = me.Name;
  Box.StationId = me.Id;
  Box.Port = RecordedPort(Request.Name);
  Box.Adapter = Adapter;
  Box.Started = UtcNow();
  Box.Pid = me.Pid;
  Box.ProcessStart = me.ProcessStart;
  // Unique across stations and their runs: the server keeps one row per id.
  Box.Id = me.Id + "/" + std::to_string(Box.Pid) + "/" + Request.Name + "/" +
           std::to_string(BoxNumber) + "/" + Box.Started;
  for (std::size_t k = 0; k < Steps.size(); ++k) {
    if (Images[k].Image == nullptr || !Box.Image.empty()) continue;
    Box.Image = Steps[k]->Image;
    Box.ImageSize = Images[k].Image->Stamp.Size;
    Box.ImageSha256 = Images[k].Sha256;
  }
  Record->Put(Box);
}

void PortJob::EndStep(int status, const std::string& why) {
  // A step that never began (its loader did not come back) sent nothing.
  const bool began = State == JobState::Working;
  if (began) BoxBytes += Bytes;
  if (!Recorded() || Box.Started.empty()) return;
  // Each step's end is on record at once, and once: a station killed later still shows how far
  // it got, and a job of thousands of steps writes each of them once.
  BoxRecord ended = Box;
  ended.FirstStep = BoxSteps++;
  ended.Steps = {{Step().StepText, status == ExitStatus::Ok ? "ok" : "failed",
                  status == ExitStatus::Ok ? std::string() : why,
                  began ? duration<double>(Now - StepStart).count() : 0.0}};
  Record->Put(std::move(ended));
}

void PortJob::EndRecord(const std::string& result, int status, const std::string& why) {
  if (!Recorded() || Box.Started.empty()) return;
  Box.Ended = UtcNow();
  Box.Result = result;
  Box.Status = status;
  Box.Why = status == ExitStatus::Ok ? std::string() : why;
  Box.Bytes = BoxBytes;
  Record->Put(Box);
  Box.Started.clear();
}
