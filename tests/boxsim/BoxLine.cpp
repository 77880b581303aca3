#include "tests/boxsim/BoxLine.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "wire/Bytes.h"
#include "wire/Crc.h"
#include "wire/HexText.h"

using boxsim::Bytes;

BoxLine::BoxLine(const std::string& path) {
  Fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (Fd < 0) return;
  termios tio{};
  tcgetattr(Fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(Fd, TCSANOW, &tio);
}

BoxLine::~BoxLine() {
  if (Fd >= 0) close(Fd);
}

void BoxLine::Write(const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(Fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{Fd, POLLOUT, 0};
      if (poll(&p, 1, 5000) <= 0) return;
    } else {
      return;
    }
  }
}

Bytes BoxLine::Read(std::size_t n, int quietMs) {
  Bytes out;
  std::uint8_t buffer[4096];
  while (out.size() < n) {
    pollfd p{Fd, POLLIN, 0};
    if (poll(&p, 1, quietMs) <= 0 || !(p.revents & POLLIN)) break;
    const ssize_t got = read(Fd, buffer, std::min(sizeof buffer, n - out.size()));
    if (got <= 0) break;
    out.insert(out.end(), buffer, buffer + got);
  }
  return out;
}

Bytes BoxLine::ReadQuiet(int quietMs) {
  return Read(SIZE_MAX, quietMs);
}

bool BoxLine::SeesHangUp(int timeoutMs) {
  pollfd p{Fd, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return false;
  if (p.revents & POLLHUP) return true;
  std::uint8_t byte;
  return read(Fd, &byte, 1) < 0 && errno == EIO;
}

bool BoxLine::Handshake() {
  Write(kSyncWord);
  return Read(4) == boxsim::StatusFrame(Reply::LoaderReady);
}

Bytes Command(std::uint32_t word, const Bytes& payload) {
  Bytes message(4 + payload.size());
  PutCommandWord(message.data(), word);
  std::copy(payload.begin(), payload.end(), message.begin() + 4);
  return message;
}

bool DecodePayload(const Bytes& frame, std::size_t payloadBytes, Bytes& payload) {
  if (frame.size() != 4 + 2 * (payloadBytes + 4)) return false;
  Bytes text(frame.begin() + 4, frame.end());
  if (HexTextToBytes(text.data(), static_cast<int>(text.size())) != 0) return false;
  if (CalcCrc(text.data(), static_cast<std::uint32_t>(payloadBytes)) !=
      GetLe32(&text[payloadBytes]))
    return false;
  payload.assign(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(payloadBytes));
  return true;
}
