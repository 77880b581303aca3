#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dlcfg/DlCfgRecord.h"
#include "tests/support/EngineParts.h"
#include "tests/support/FakePort.h"

// Feeds the whole reply path what the fuzzer makes up: the receiver, the reply queue and its
// dispatcher (with an upload and a flash read under way), and the configuration record codec
// for every record that gets through. Nothing may crash, and a record shown and built again
// must keep every byte that is not reserved.
//
// The parts are wired as the engine wires them, but driven here instead of by its workers: the
// input decides where passes end and when the other side gets a turn, so that a failure comes
// back with the same input, and millions of inputs take minutes, not the receiver's silence
// after each one.

namespace {

void Fail(const char* why) {
  std::fprintf(stderr, "core_fuzz: %s\n", why);
  std::abort();
}

class FixedClock : public Clock {
 public:
  LocalTime Now() override { return {}; }
  int MsUntilSecondTurns(int) override { return NeverByItself; }
};

bool Reserved(int offset, DeliveryLayout layout) {
  if ((offset >= 25 && offset <= 27) || offset >= 89) return true;
  if (layout == DeliveryLayout::Satellite) return offset >= 81 && offset <= 83;
  return offset >= 67 && offset <= 83;
}

// Shows the record as the dialog would and builds it again from those texts.
void RoundTrip(const std::uint8_t* record) {
  {
    DlCfgTexts texts;
    for (const auto& [edit, text] : ShownTexts(record)) texts[edit] = text;
    texts["DeliveryType"] = std::to_string(record[DlCfgDeliveryTypeOffset]);
    std::uint8_t built[DlCfgRecordSize];
    if (!PackRecord(texts, record, built).empty()) Fail("a record's own texts refused");
    const DeliveryLayout layout = LayoutOfDeliveryType(record[DlCfgDeliveryTypeOffset]);
    for (int i = 0; i < DlCfgCrcOffset; ++i)
      if (!Reserved(i, layout) && built[i] != record[i]) Fail("record changed on its way back");
  }
}

// Renders every event, so that no event the engine can make from any bytes breaks the log.
class NullScreen : public EventSink, private EventText {
 public:
  void On(const EngineEvent& event) override {
    RenderEvent(event, *this);
    if (const auto* record = std::get_if<ev::RecordArrived>(&event))
      RoundTrip(record->Record.data());
  }
  long Lines = 0;
  long Messages = 0;

 private:
  void Line(const std::string&, bool) override { ++Lines; }
  void Message(const std::string&) override { ++Messages; }
};

const char* ImagePath() {
  static const std::string path = [] {
    char name[] = "/tmp/core_fuzz_imageXXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) Fail("no temporary image");
    std::string bytes(700, '\x5A');  // one short block: requests stay cheap
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      Fail("image not written");
    close(fd);
    return std::string(name);
  }();
  return path.c_str();
}

// One session for all inputs, as a long day at the bench would be: whatever one input leaves
// behind (a half-read line, an upload, a flash read) meets the next.
struct Session {
  Session() : Parts(Screen, Time, Folder()) {
    Line.OpenExclusive("fuzz");
    Parts.Uart.ComHandle = &Line;
    Parts.Uart.UartConnected = true;
  }
  static std::string Folder() {
    char name[] = "/tmp/core_fuzzXXXXXX";
    if (!mkdtemp(name)) Fail("no temporary folder");
    return name;
  }
  NullScreen Screen;
  FixedClock Time;
  FakePort Line;
  EngineParts Parts;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static Session session;
  EngineParts& parts = session.Parts;

  // The first bytes may start an upload or a flash read before the box talks.
  if ((data[0] & 0x0F) == 1) {
    if (parts.Upload.UploadFileOpen()) parts.Upload.FailUpload();
    parts.Timeout.SetReplyTimeout(false, 0);
    if (!parts.Upload.StopUpload()) parts.Upload.StartUpload(ImagePath());
  }
  if ((data[0] & 0xF0) == 0x20) parts.Flash.ReadFlash(0x1000, 1 + (data[1] * 97u) % 0x3000);

  const std::uint8_t* stream = data + 2;
  const std::size_t n = size - 2;
  std::size_t at = 0;
  std::uint32_t random = 0x9E3779B9u * (data[1] + 1u);
  while (at < n) {
    random ^= random << 13;
    random ^= random >> 17;
    random ^= random << 5;
    const std::size_t piece = std::min<std::size_t>(n - at, 1 + random % 700);
    parts.Rx.RxPass(stream + at, piece, (random >> 12) % 4 == 0);
    at += piece;
    // Let the transmit side and the dispatcher keep up now and then; what the transmit
    // worker would write is taken as written.
    UartTxThread::Outgoing out;
    while (parts.Tx.TxPass(out))
      parts.Tx.TxWritten({IoStatus::Ok, static_cast<std::size_t>(out.Length)});
    for (int i = 0; i < 50 && parts.DataHandler.ProcessReplyItem(); ++i) {
    }
  }
  parts.Rx.RxPass(nullptr, 0, true);
  while (parts.DataHandler.ProcessReplyItem()) {
  }
  if (parts.DataHandler.QueuedCount() != 0) Fail("items left in the queue");
  return 0;
}
