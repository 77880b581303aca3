#include "production/BoxRecord.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>

#include "platform/Clock.h"
#include "production/Json.h"

namespace {

std::string Number(double value, const char* format) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// A CSV field: quoted when it holds a separator, a quote or a line end. One that begins like a
// formula (= + - @, a tab or carriage return) gets a ' before it, so that a spreadsheet shows it
// as text instead of running it.
std::string CsvField(std::string text) {
  if (!text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos)
    text.insert(0, 1, '\'');
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string StepsJson(const std::vector<StepRecord>& steps) {
  std::string out = "[";
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const StepRecord& s = steps[i];
    if (i > 0) out += ", ";
    out += "{\"step\": " + JsonString(s.Name) + ", \"result\": " + JsonString(s.Result) +
           ", \"why\": " + JsonString(s.Why) + ", \"seconds\": " + Number(s.Seconds, "%.2f") + "}";
  }
  return out + "]";
}

std::string RowJson(const BoxRecord& r) {
  return "{\"station\": " + JsonString(r.Station) + ", \"station_id\": " + JsonString(r.StationId) +
         ", \"port\": " + JsonString(r.Port) + ", \"label\": " + JsonString(r.Label) +
         ", \"adapter\": " + JsonString(r.Adapter) + ", \"started\": " + JsonString(r.Started) +
         ", \"ended\": " + JsonString(r.Ended) + ", \"status\": " + std::to_string(r.Status) +
         ", \"result\": " + JsonString(r.Result) + ", \"why\": " + JsonString(r.Why) +
         ", \"loader_version\": " + JsonString(r.LoaderVersion) +
         ", \"hardware_model\": " + JsonString(r.HardwareModel) +
         ", \"hardware_version\": " + JsonString(r.HardwareVersion) +
         ", \"oui\": " + JsonString(r.Oui) + ", \"image\": " + JsonString(r.Image) +
         ", \"image_size\": " + std::to_string(r.ImageSize) +
         ", \"image_sha256\": " + JsonString(r.ImageSha256) +
         ", \"bytes\": " + std::to_string(r.Bytes) + ", \"steps\": " + StepsJson(r.Steps) + "}";
}

std::string CsvHeader() {
  return "station,station_id,port,label,adapter,started,ended,status,result,why,loader_version,"
         "hardware_"
         "model,"
         "hardware_version,oui,image,image_size,image_sha256,bytes,steps";
}

std::string RecordCsv(const std::vector<BoxRecord>& rows) {
  std::string text = CsvHeader() + "\n";
  for (const BoxRecord& row : rows) text += RowCsv(row) + "\n";
  return text;
}

std::string RowCsv(const BoxRecord& r) {
  std::string steps;
  for (const StepRecord& s : r.Steps)
    steps += (steps.empty() ? "" : "; ") + s.Name + ": " + s.Result +
             (s.Why.empty() ? "" : " (" + s.Why + ")");
  const std::string fields[] = {r.Station,
                                r.StationId,
                                r.Port,
                                r.Label,
                                r.Adapter,
                                r.Started,
                                r.Ended,
                                std::to_string(r.Status),
                                r.Result,
                                r.Why,
                                r.LoaderVersion,
                                r.HardwareModel,
                                r.HardwareVersion,
                                r.Oui,
                                r.Image,
                                std::to_string(r.ImageSize),
                                r.ImageSha256,
                                std::to_string(r.Bytes),
                                steps};
  std::string out;
  for (const std::string& f : fields) out += (out.empty() ? "" : ",") + CsvField(f);
  return out;
}

void MakeValidUtf8(BoxRecord& r) {
  for (std::string* text :
       {&r.Id, &r.Station, &r.StationId, &r.Port, &r.Label, &r.Adapter, &r.Why, &r.LoaderVersion,
        &r.HardwareModel, &r.HardwareVersion, &r.Oui, &r.Image, &r.ImageSha256})
    *text = ValidUtf8(*text);
  for (StepRecord& step : r.Steps) {
    step.Name = ValidUtf8(step.Name);
    step.Why = ValidUtf8(step.Why);
  }
}

std::string UtcNow() {
  return UtcText(std::chrono::system_clock::now());
}

std::string UtcText(std::chrono::system_clock::time_point now) {
  using namespace std::chrono;
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::tm utc = UtcCalendar(seconds);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(ms));
  return text;
}

std::string SummaryText(const std::vector<BoxRecord>& rows) {
  // Boxes by the hour they started in ("2026-12-08T09"), and the failures by reason.
  std::map<std::string, std::pair<int, int>> hours;  // boxes, good ones
  std::map<std::string, int> reasons;
  int good = 0, ended = 0;
  for (const BoxRecord& r : rows) {
    if (r.Result == "running") continue;
    ++ended;
    auto& hour = hours[r.Started.substr(0, 13)];
    ++hour.first;
    if (r.Result == "ok") {
      ++good;
      ++hour.second;
    } else {
      ++reasons[r.Why.empty() ? r.Result : r.Why];
    }
  }
  std::string out =
      "boxes: " + std::to_string(ended) + ", ok: " + std::to_string(good) +
      ", yield: " + (ended == 0 ? std::string("-") : Number(100.0 * good / ended, "%.1f%%")) + "\n";
  if (!hours.empty()) out += "per hour (UTC):\n";
  for (const auto& [hour, n] : hours)
    out += "  " + hour.substr(0, 10) + " " + hour.substr(11) + ":00  " + std::to_string(n.first) +
           (n.first == 1 ? " box, " : " boxes, ") + std::to_string(n.second) + " ok\n";
  std::vector<std::pair<int, std::string>> byCount;
  for (const auto& [why, n] : reasons) byCount.emplace_back(-n, why);
  std::sort(byCount.begin(), byCount.end());
  if (!byCount.empty()) out += "failures by reason:\n";
  for (const auto& [n, why] : byCount) out += "  " + std::to_string(-n) + "  " + why + "\n";
  return out;
}

bool RecordTime(const std::string& text) {
  static const std::string shape = "dddd-dd-ddTdd:dd:dd.dddZ";
  bool whole = false;
  for (std::size_t length : {4, 7, 10, 13, 16, 19, 23, 24}) whole |= text.size() == length;
  if (!whole) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
    if (shape[i] == 'd' ? !digit : text[i] != shape[i]) return false;
  }
  const auto number = [&](std::size_t at, int low, int high) {
    if (text.size() < at + 2) return true;
    const int n = std::stoi(text.substr(at, 2));
    return n >= low && n <= high;
  };
  return number(5, 1, 12) && number(8, 1, 31) && number(11, 0, 23) && number(14, 0, 59) &&
         number(17, 0, 59);
}
