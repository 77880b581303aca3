#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One step of a box's work as the record keeps it.
struct StepRecord {
  std::string Name;    // the step as written: "upload fw.bin"
  std::string Result;  // "ok" or "failed"
  std::string Why;     // a failure's reason
  double Seconds = 0;
};

// One box: what a station did to it and how it ended. Times are UTC, ISO 8601 with
// milliseconds ("2026-12-08T09:31:02.123Z"), so that they sort as text.
struct BoxRecord {
  std::string Id;  // unique across stations: a row forwarded twice is still one row
  std::string Station;
  std::string Port;
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
  std::vector<StepRecord> Steps;
  long long Pid = 0;  // the station's process: its rows are its own while it runs
};

// What `record` prints.
std::string StepsJson(const std::vector<StepRecord>& steps);
std::string RowJson(const BoxRecord& row);
std::string CsvHeader();
std::string RowCsv(const BoxRecord& row);

// The time now as the record writes it.
std::string UtcNow();

// Which rows `record` shows.
struct RecordFilter {
  std::string Since;  // a time as the record writes it, or a prefix of one ("2026-12-08")
  std::string Port;
  bool FailedOnly = false;  // failed or interrupted
};

// Boxes per hour, yield and the failures by reason, of the rows given.
std::string SummaryText(const std::vector<BoxRecord>& rows);
