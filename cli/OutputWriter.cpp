#include "cli/OutputWriter.h"

#include <utility>

OutputWriter::OutputWriter(std::FILE* out, std::FILE* err)
    : Out(out), Err(err), Thread([this] { Run(); }) {}

OutputWriter::~OutputWriter() {
  {
    std::lock_guard lock(Mutex);
    Ending = true;
  }
  Changed.notify_all();
  Thread.join();
}

void OutputWriter::Write(std::FILE* stream, std::string text) {
  {
    std::lock_guard lock(Mutex);
    Waiting.push_back({stream, {}, std::move(text), false, {}, 0});
  }
  Changed.notify_all();
}

void OutputWriter::WriteProgress(std::FILE* stream, std::string keep, std::string body,
                                 const std::string& what) {
  {
    std::lock_guard lock(Mutex);
    // Only an update at the end of the queue can be replaced: anything after it must still
    // find the stream as that update left it.
    if (!Waiting.empty() && Waiting.back().Progress && Waiting.back().Stream == stream &&
        Waiting.back().What == what) {
      // Its keep stays: the screen is still as the update before it left it, and the new
      // update's keep would undo what was never drawn.
      Item& last = Waiting.back();
      last.Body = std::move(body);
      // An update replaced while the writer merely had other lines to write is no loss to tell.
      if (Writing && std::chrono::steady_clock::now() - WriteStarted >= HeldUpAfter)
        ++last.DroppedBefore;
      return;
    }
    Waiting.push_back({stream, std::move(keep), std::move(body), true, what, 0});
  }
  Changed.notify_all();
}

void OutputWriter::Run() {
  std::unique_lock lock(Mutex);
  for (;;) {
    Changed.wait(lock, [&] { return Ending || !Waiting.empty(); });
    if (Waiting.empty()) return;  // ending, and everything is written
    Item item = std::move(Waiting.front());
    Waiting.pop_front();
    bool& failed = FailedFlag(item.Stream);
    if (failed) continue;
    Writing = true;
    WriteStarted = std::chrono::steady_clock::now();
    lock.unlock();
    std::string text = std::move(item.Keep);
    if (item.DroppedBefore > 0)
      text += "(" + std::to_string(item.DroppedBefore) + " progress update" +
              (item.DroppedBefore == 1 ? "" : "s") + " not shown while the output was held up)\n";
    text += item.Body;
    // A reader that stopped early (head, grep -m1) makes the write fail; the work is not its.
    const bool written =
        std::fputs(text.c_str(), item.Stream) >= 0 && std::fflush(item.Stream) == 0;
    lock.lock();
    Writing = false;
    if (!written) failed = true;
  }
}
