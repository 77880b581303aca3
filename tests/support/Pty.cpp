#include "tests/support/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

Pty::Pty(bool raw) {
  char name[256] = {};
  if (openpty(&Master, &Slave, name, nullptr, nullptr) != 0) {
    Master = Slave = -1;
    return;
  }
  SlavePath = name;
  for (int fd : {Master, Slave}) {
    if (!raw) break;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
  }
  fcntl(Master, F_SETFL, fcntl(Master, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty() {
  CloseMaster();
  if (Slave >= 0) close(Slave);
}

void Pty::CloseMaster() {
  if (Master >= 0) close(Master);
  Master = -1;
}

void Pty::Write(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(Master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    pollfd p{Master, POLLOUT, 0};
    if (poll(&p, 1, 1000) <= 0) return;
  }
}

void Pty::Write(const std::string& text) {
  Write(std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> Pty::Read(int timeoutMs, std::size_t minBytes) {
  std::vector<std::uint8_t> out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < minBytes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    pollfd p{Master, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
    std::uint8_t buf[4096];
    const ssize_t n = ::read(Master, buf, sizeof buf);
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

termios Pty::SlaveSettings() const {
  termios tio{};
  tcgetattr(Slave, &tio);
  return tio;
}

int Pty::Waiting() const {
  int n = 0;
  ioctl(Slave, FIONREAD, &n);
  return n;
}
