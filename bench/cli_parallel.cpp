#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "boxsim/BoxSim.h"

// kelvarin-cli uploading to 8 boxes at once, each on a line paced to 921600 baud, 1 MiB each,
// keeping the record of the boxes (bench_cli_parallel [ports] [KiB] [none | FILE | SERVER]).
// Per port: the ideal line time of what the tool sent for the upload over the time the program
// reports from the start of the work to the box's verdict. For the program: its CPU time (user
// and system, from the child's resource usage) over the wall time of the run. The boxes run in
// this process, so the program's figures are its own.
//
// usage: bench_cli_parallel [ports] [KiB]

namespace {

constexpr int kBaud = 921600;
constexpr int kBitsPerChar = 10;

std::uint64_t BytesSentForUpload(const boxsim::BoxSim& box, std::size_t imageSize) {
  std::uint64_t bytes = 0;
  bool started = false;
  for (const boxsim::Message& m : box.Messages()) {
    if (m.kind == boxsim::MessageKind::Command && m.word == 0xAA0F322Bu) started = true;
    if (!started) continue;
    if (m.kind == boxsim::MessageKind::Block) {
      const std::uint64_t start = std::uint64_t(m.block) * boxsim::kBlockSize;
      bytes += std::min<std::uint64_t>(boxsim::kBlockSize, imageSize - start) + 4;
    } else {
      bytes += m.bytes.size();
    }
  }
  return bytes;
}

double FindSeconds(const std::string& out, const std::string& port) {
  const std::string key = "{\"port\": \"" + port + "\", \"event\": \"done\"";
  const std::size_t at = out.find(key);
  if (at == std::string::npos) return 0;
  const std::size_t s = out.find("\"seconds\": ", at);
  if (s == std::string::npos) return 0;
  return std::atof(out.c_str() + s + 11);
}

}  // namespace

int main(int argc, char** argv) {
  const int ports = argc > 1 ? std::atoi(argv[1]) : 8;
  const std::size_t size = (argc > 2 ? std::atoi(argv[2]) : 1024) * std::size_t{1024};
  char pattern[] = "/tmp/kelvarin-bench-cli-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::filesystem::path dir = pattern;

  const std::string image = (dir / "image.bin").string();
  {
    std::vector<char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    std::ofstream(image, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
  }
  std::vector<std::unique_ptr<boxsim::BoxSim>> boxes;
  std::vector<std::string> args = {KELVARIN_CLI, "--json", "--baud", std::to_string(kBaud)};
  // The record of the boxes: "none", a file, or a server; by default a file of its own.
  const std::string record = argc > 3 ? argv[3] : (dir / "record.sqlite").string();
  if (record == "none") {
    args.push_back("--no-record");
  } else {
    args.push_back("--record");
    args.push_back(record);
  }
  for (int i = 0; i < ports; ++i) {
    boxsim::BoxOptions options;
    options.linkPath = (dir / ("box" + std::to_string(i))).string();
    options.baud = kBaud;
    boxes.push_back(std::make_unique<boxsim::BoxSim>(options));
    if (!boxes.back()->Start()) {
      std::printf("cannot start box %d  TARGET MISSED\n", i);
      return 0;
    }
    args.push_back("-p");
    args.push_back(options.linkPath);
  }
  args.push_back("upload");
  args.push_back(image);

  int out[2];
  if (pipe(out) != 0) return 1;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    close(out[0]);
    std::vector<char*> argv2;
    for (std::string& a : args) argv2.push_back(a.data());
    argv2.push_back(nullptr);
    execv(KELVARIN_CLI, argv2.data());
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;

  std::printf("kelvarin-cli, %d ports at %d baud, %zu KiB each: exit status %d\n", ports, kBaud,
              size / 1024, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  bool allMet = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  for (int i = 0; i < ports; ++i) {
    const boxsim::BoxSim& box = *boxes[i];
    const double measured = FindSeconds(text, box.LinkPath());
    const double ideal = static_cast<double>(BytesSentForUpload(box, size)) * kBitsPerChar / kBaud;
    const double efficiency = measured > 0 ? ideal / measured : 0;
    const bool ok =
        efficiency >= 0.98 && box.LastUploadOutcome() == boxsim::UploadOutcome::Accepted;
    allMet &= ok;
    std::printf("port %d: %s, ideal %.3f s, measured %.3f s, efficiency %.3f%s\n", i,
                boxsim::OutcomeName(box.LastUploadOutcome()), ideal, measured, efficiency,
                ok ? "" : "  TARGET MISSED");
  }
  const double share = wall > 0 ? cpu / wall : 0;
  std::printf("program CPU: %.2f s over %.2f s wall = %.1f%% of one core%s\n", cpu, wall,
              share * 100, share <= 0.10 ? "" : "  TARGET MISSED");
  std::printf("%s\n", allMet && share <= 0.10 ? "all targets met" : "targets missed");
  boxes.clear();
  std::error_code error;
  std::filesystem::remove_all(dir, error);
  return 0;
}
