#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

// Writes the program's output on a thread of its own, so that a stream that stops taking it (a
// terminal stopped with Ctrl+S, a selection in a Windows console, a pipe nobody reads) never
// holds up the work on the line. What cannot be written at once waits, in order; a progress
// update that waits is replaced by the next one, and when the stream was held up meanwhile the
// count of those dropped is told once it moves again. Everything else is written, however long
// it has to wait.
class OutputWriter {
 public:
  OutputWriter(std::FILE* out, std::FILE* err);
  // Writes whatever waits, then ends the thread.
  ~OutputWriter();
  OutputWriter(const OutputWriter&) = delete;
  OutputWriter& operator=(const OutputWriter&) = delete;

  void Write(std::FILE* stream, std::string text);
  // A progress update of what (a port; empty for the whole block of a terminal): keep goes out
  // even when body is dropped (it puts the cursor where the last update that was shown left
  // it). Only an update of the same what replaces it.
  void WriteProgress(std::FILE* stream, std::string keep, std::string body,
                     const std::string& what = {});

  // A write that has not returned after this long is a stream held up, not a busy one.
  static constexpr std::chrono::milliseconds HeldUpAfter{200};

 private:
  struct Item {
    std::FILE* Stream = nullptr;
    std::string Keep;
    std::string Body;
    bool Progress = false;
    std::string What;
    int DroppedBefore = 0;  // progress updates this one replaced while they waited
  };
  void Run();
  bool& FailedFlag(std::FILE* stream) { return stream == Out ? OutFailed : ErrFailed; }

  std::FILE* Out;
  std::FILE* Err;
  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<Item> Waiting;
  bool Ending = false;
  bool OutFailed = false;  // the reader has gone (head, grep -m1): nothing more goes there
  bool ErrFailed = false;
  bool Writing = false;  // the thread is in a write, since WriteStarted
  std::chrono::steady_clock::time_point WriteStarted{};
  std::thread Thread;
};
