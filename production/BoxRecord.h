#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// One step of a box's work as the record keeps it.
struct StepRecord {
  std::string Name;    // the step as written: "upload fw.bin"
  std::string Result;  // "ok" or "failed"
  std::string Why;     // a failure's reason
  double Seconds = 0;
  // Its place among the box's steps, from 0, as a store read it; -1: where the row puts it.
  long long N = -1;
};

// One box: what a station did to it and how it ended. Times are UTC, ISO 8601 with
// milliseconds ("2026-12-08T09:31:02.123Z"), so that they sort as text.
struct BoxRecord {
  std::string Id;         // unique across stations: a row forwarded twice is still one row
  std::string Station;    // the station's name: --station, else the host name
  std::string StationId;  // what tells stations apart that share a host name (cloned PCs)
  std::string Port;
  std::string Label;    // the box's own, scanned or typed at the station; empty: none given
  std::string Adapter;  // the adapter's by-id name, where there is one
  std::string Started;
  std::string Ended;               // empty while running
  std::string Result = "running";  // running, ok, failed, interrupted
  int Status = 0;                  // kelvarin-cli's exit status for the box
  std::string Why;
  std::string LoaderVersion;
  std::string HardwareModel;
  std::string HardwareVersion;
  std::string Oui;
  std::string Image;
  std::uint64_t ImageSize = 0;
  std::string ImageSha256;
  std::uint64_t Bytes = 0;  // on the line
  // Steps FirstStep, FirstStep + 1, ... (unless a step says its place): a row written again
  // need carry only the steps that are new since; the steps it leaves out stay as they were.
  std::vector<StepRecord> Steps;
  std::size_t FirstStep = 0;
  long long StepPlace(std::size_t k) const {
    return Steps[k].N >= 0 ? Steps[k].N : static_cast<long long>(FirstStep + k);
  }
  long long Pid = 0;         // the station's process: its rows are its own while it runs...
  std::string ProcessStart;  // ...which is that process, not another that got its id later
};

// Which rows are a station's own: those with its id, and those written before stations had one
// under its host name.
struct StationSelf {
  std::string Id;
  std::string Host;
  bool Owns(const BoxRecord& r) const {
    return r.StationId.empty() ? r.Station == Host : r.StationId == Id;
  }
};

// What `record` prints.
std::string StepsJson(const std::vector<StepRecord>& steps);
std::string RowJson(const BoxRecord& row);
std::string CsvHeader();
std::string RowCsv(const BoxRecord& row);
// Rows as a spreadsheet reads them: the header, then a line a row.
std::string RecordCsv(const std::vector<BoxRecord>& rows);

// Every text of the row as valid UTF-8 (see ValidUtf8), as the record keeps it.
void MakeValidUtf8(BoxRecord& row);

// The time now, or then, as the record writes it.
std::string UtcNow();
std::string UtcText(std::chrono::system_clock::time_point then);

// Which rows `record` shows.
struct RecordFilter {
  std::string Since;  // a time as the record writes it, or a prefix of one ("2026-12-08")
  std::string Port;
  bool FailedOnly = false;  // failed or interrupted
  std::string PortAsTyped;  // the same port as its rows may name it otherwise (empty: none)
  std::string Label;        // only the box with this label (empty: every box)
  std::string EndedFrom;    // only boxes that ended, at this time or later (empty: any)
  std::string Id;           // only this box (empty: any)
  bool operator==(const RecordFilter&) const = default;
};

// A time as the record writes it, or the start of one ("2026-12-08T09"): the record compares
// it as text, so "2026-12-8" would quietly mean something else.
bool RecordTime(const std::string& text);

// Boxes per hour, yield and the failures by reason, of the rows given.
std::string SummaryText(const std::vector<BoxRecord>& rows);
