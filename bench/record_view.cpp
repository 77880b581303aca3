#include <stdlib.h>

#include <QApplication>
#include <QScrollBar>
#include <QTableView>
#include <chrono>
#include <filesystem>
#include <string>

#include "bench/BenchSupport.h"
#include "bench/RecordRows.h"
#include "production/Recorder.h"
#include "qt/RecordView.h"

// The window's Record view over a SQLite record of 100,000 boxes (bench_record_view [rows]):
// the time from opening it to the rows shown, the longest stall of the window's loop while the
// view scrolls through all of them a page at a time, and how long a box ended by another
// process takes to show.
using namespace bench;

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  UseOffscreenWithoutDisplay();
  QApplication app(argc, argv);
  char pattern[] = "/tmp/kelvarin-bench-view-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string file = std::string(pattern) + "/record.sqlite";
  if (const std::string why = FillRecord(file, rows); !why.empty()) {
    std::printf("cannot make the record: %s  TARGET MISSED\n", why.c_str());
    return 0;
  }

  TForm_Record view(file);
  auto* grid = view.findChild<QTableView*>("grid_Boxes");
  const auto until = [](const std::function<bool()>& done, double seconds) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done() && std::chrono::steady_clock::now() < limit)
      QApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
  };
  StallMeter stalls;
  stalls.Start();
  const auto opened = std::chrono::steady_clock::now();
  view.show();
  const bool shown = until([&] { return grid->model()->rowCount() == rows; }, 30);
  const double openSeconds = Seconds(std::chrono::steady_clock::now() - opened);
  std::printf("Record view over %d rows: open to rows shown %.3f s%s\n", rows, openSeconds,
              TargetNote(shown && openSeconds < 1.0).c_str());
  std::printf("longest stall while opening: %.0f ms%s\n", stalls.LongestMs(),
              TargetNote(stalls.LongestMs() < 100).c_str());

  // A page at a time from the top to the bottom, each page drawn.
  stalls.Start();
  QScrollBar* bar = grid->verticalScrollBar();
  const auto scrolled = std::chrono::steady_clock::now();
  int pages = 0;
  for (int at = 0; at < bar->maximum(); at += bar->pageStep(), ++pages) {
    bar->setValue(at);
    grid->viewport()->repaint();
    QApplication::processEvents();
  }
  std::printf("scrolled %d pages in %.2f s, longest stall %.0f ms%s\n", pages,
              Seconds(std::chrono::steady_clock::now() - scrolled), stalls.LongestMs(),
              TargetNote(stalls.LongestMs() < 100).c_str());

  // Another station process ends a box.
  stalls.Start();
  Recorder other(file, "", "line 2", [](const std::string&) {});
  other.Start();
  BoxRecord box;
  box.Id = "elsewhere";
  box.Station = "line 2";
  box.StationId = other.Self().Id;
  box.Port = "ttyUSB9";
  box.Started = box.Ended = UtcNow();
  box.Result = "ok";
  const auto put = std::chrono::steady_clock::now();
  other.Put(box);
  other.Finish();
  const bool followed = until([&] { return grid->model()->rowCount() == rows + 1; }, 10);
  const double followSeconds = Seconds(std::chrono::steady_clock::now() - put);
  std::printf("a box ended elsewhere shows after %.3f s%s; longest stall meanwhile %.0f ms%s\n",
              followSeconds, TargetNote(followed && followSeconds < 1.0).c_str(),
              stalls.LongestMs(), TargetNote(stalls.LongestMs() < 100).c_str());
  stalls.Stop();
  view.hide();
  std::filesystem::remove_all(pattern);
  return 0;
}
