#include <chrono>
#include <string>

#include "tests/replies/CoreFixture.h"
#include "tests/support/EngineParts.h"
#include "tests/support/TestBytes.h"
#include "wire/Words.h"

namespace {

using namespace std::chrono_literals;

class DataHandlerTest : public CoreFixture {};

TEST_F(DataHandlerTest, QueueHolds999ItemsThenRefusesUntilOneIsProcessed) {
  // A burst is handed over in one piece, so the handler has no turn until all of it is queued:
  // 1000 lines meet a queue that holds 999.
  Bytes burst;
  for (int i = 0; i < 1000; ++i) burst = burst + TextLine(std::to_string(i));
  ASSERT_LE(burst.size(), static_cast<std::size_t>(UartRxThread::PieceBytes));
  port.Say(burst);
  ASSERT_TRUE(Until([&] { return screen.Log.size() == 999; }));
  EXPECT_EQ(screen.Messages, std::vector<std::string>{"Rx queue is full"});

  port.Say(TextLine("x"));
  ASSERT_TRUE(Until([&] { return screen.Log.size() == 1000; }));
  for (int i = 0; i < 999; ++i) EXPECT_EQ(screen.Log[i], std::to_string(i));
  EXPECT_EQ(screen.Log.back(), "x");
  EXPECT_EQ(screen.Messages.size(), 1u);
}

TEST_F(DataHandlerTest, ItemsComeOutInOrderAcrossTheWrap) {
  // Two and a half turns of the ring, in uneven batches, so the wrap falls mid-batch.
  int added = 0;
  while (added < 2500) {
    Bytes batch;
    for (int i = 0; i < 377 && added < 2500; ++i) batch = batch + TextLine(std::to_string(added++));
    port.Say(batch);
    ASSERT_TRUE(Until([&] { return screen.Log.size() == static_cast<std::size_t>(added); }));
  }
  for (int i = 0; i < 2500; ++i) ASSERT_EQ(screen.Log[i], std::to_string(i));
  EXPECT_TRUE(screen.Messages.empty());
}

TEST_F(DataHandlerTest, TextLinesShowEveryByteWithoutTheCarriageReturn) {
  // A line cut at its full length has no carriage return; all of it shows.
  const Bytes cut(UartRxThread::LineMax, 'z');
  port.Say(TextLine("OK") + Bytes{0xB0, 0xFF, 0x01, 0x0D} + Bytes{'a', 0, 'b', 0x0D} +
           TextLine("") + cut);
  Settle();
  EXPECT_EQ(screen.Log, (std::vector<std::string>{"OK", "\xB0\xFF\x01", "a", "",
                                                  std::string(UartRxThread::LineMax, 'z')}));
}

TEST_F(DataHandlerTest, LoaderVersionIsTwoSignedBytesAndDisarms) {
  ASSERT_TRUE(core.LoaderVersion());
  EXPECT_EQ(Sent(), WireWord(Cmd::LoaderVersion));
  EXPECT_TRUE(core.AwaitingReply());
  EXPECT_FALSE(screen.CmdControls);
  screen.Clear();

  port.Say(PayloadFrame(Reply::LoaderVersion, {0x02, 0x00}));
  ASSERT_TRUE(Until([&] { return !screen.Log.empty(); }));
  EXPECT_EQ(screen.Log, std::vector<std::string>{"2.0"});
  EXPECT_FALSE(core.AwaitingReply());
  EXPECT_TRUE(screen.CmdControls);

  port.Say(PayloadFrame(Reply::LoaderVersion, {0xFF, 0x80}) +
           PayloadFrame(Reply::LoaderVersion, {0x01, 0x0A}));
  Settle();
  EXPECT_EQ(screen.Log, (std::vector<std::string>{"2.0", "-1.-128", "1.10"}));
}

TEST_F(DataHandlerTest, ConfigurationRecordIsToldThenDisarms) {
  Bytes fields;
  for (int i = 0; i < 96; ++i) fields.push_back(static_cast<std::uint8_t>(i * 3));
  const Bytes record = WithCrc(fields);
  ASSERT_TRUE(core.GetDlCfg());
  screen.Clear();
  port.Say(PayloadFrame(Reply::DlCfgRecord, fields));
  EXPECT_TRUE(Until([&] { return !core.AwaitingReply(); }));
  Settle();
  const auto arrived = screen.Of<ev::RecordArrived>();
  ASSERT_EQ(arrived.size(), 1u);
  EXPECT_EQ(Bytes(arrived[0].Record.begin(), arrived[0].Record.end()), record);
  EXPECT_TRUE(screen.Log.empty());
}

TEST_F(DataHandlerTest, DownloadInformationIsDroppedAndUnknownRepliesShowAsText) {
  port.Say(PayloadFrame(Reply::DownloadInfo, Bytes(96, 'A')));
  Settle();
  port.Say(ToBytes("\xBB\x30!hi\r") + ToBytes("\xBB\x14\r"));  // too short for a word
  Settle();
  EXPECT_EQ(screen.Log, (std::vector<std::string>{"\xBB\x30!hi", "\xBB\x14"}));
}

TEST_F(DataHandlerTest, StatusWordOvertakesQueuedLines) {
  ASSERT_TRUE(core.SendCmdWord(Cmd::VerifyBoot));
  Sent();
  screen.Clear();
  port.Say(TextLine("first") + TextLine("second") + WireWord(Reply::VerifyBootOk));
  Settle();
  EXPECT_EQ(screen.Log, (std::vector<std::string>{"Verify boot code ok", "first", "second"}));
}

TEST_F(DataHandlerTest, EveryStatusWordHasItsEffectThenDisarms) {
  struct Row {
    std::uint32_t Sent;  // the command whose answer it is
    std::uint32_t Word;
    std::vector<std::string> Log;
    std::string Caption;  // empty: the status caption is not touched
  };
  const std::vector<Row> rows = {
      {Cmd::SetDlCfg, Reply::SetDlCfgOk, {}, "Set DL CFG OK"},
      {Cmd::SetDlCfg, Reply::SetDlCfgFail, {}, "Set DL CFG Fail"},
      {Cmd::EraseFlash, Reply::EraseOk, {"ERASE OK"}, ""},
      {Cmd::EraseFlash, Reply::EraseFail, {"ERASE fail"}, ""},
      {Cmd::VerifyBoot, Reply::VerifyBootOk, {"Verify boot code ok"}, ""},
      {Cmd::VerifyBoot, Reply::VerifyBootFail, {"Verify boot code fail"}, ""},
      {Cmd::VerifyApp, Reply::VerifyAppOk, {"Verify App ok"}, ""},
      {Cmd::VerifyApp, Reply::VerifyAppFail, {"Verify App fail"}, ""},
      {Cmd::TuneTest, Reply::TuneOk, {"Tune test ok"}, ""},
      {Cmd::TuneTest, Reply::TuneFail, {"Tune test fail"}, ""},
      {Cmd::SetDefaultDlCfg, Reply::SetDefaultOk, {"Set default CFG ok"}, "Set default CFG ok"},
      {Cmd::SetDefaultDlCfg,
       Reply::SetDefaultFail,
       {"Set default CFG fail"},
       "Set default CFG fail"},
      {Cmd::RunApp, Reply::RunAppFail, {"Run App fail"}, ""},
      // Words that answer no command of their own end any wait.
      {Cmd::VerifyBoot, Reply::ReadFlashFail, {"Read flash fail"}, ""},
      {Cmd::VerifyBoot, Reply::LoaderReady, {"Stop send sync byte"}, ""},
      {Cmd::VerifyBoot, Reply::Status1C, {}, ""},
      {Cmd::VerifyBoot, Reply::Status1D, {}, ""},
      {Cmd::VerifyBoot, Reply::Status21, {}, ""},
      {Cmd::VerifyBoot, Reply::Status27, {}, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << row.Word);
    ASSERT_TRUE(core.SendCmdWord(row.Sent));
    Sent();
    screen.Clear();
    screen.Captions.clear();
    ASSERT_FALSE(screen.CmdControls);

    port.Say(WireWord(row.Word));
    Settle();
    EXPECT_EQ(screen.Log, row.Log);
    if (row.Caption.empty())
      EXPECT_EQ(screen.Captions.count(RecordingScreen::Caption::DlCfgStatus), 0u);
    else
      EXPECT_EQ(screen.Captions[RecordingScreen::Caption::DlCfgStatus], row.Caption);
    EXPECT_FALSE(core.AwaitingReply());
    EXPECT_TRUE(screen.CmdControls);
  }
}

// A word settles its own command once, and only a command that had begun to go out when the word
// came: a copy on the line, or an answer nobody asked for, is said and changes nothing.
TEST_F(DataHandlerTest, AnAnswerSettlesItsOwnCommandOnce) {
  const struct {
    const char* What;
    std::vector<std::uint32_t> Sent;
    Bytes Said;
    std::vector<std::string> Log;
    bool StillAwaiting;
  } cases[] = {
      {"nothing asked", {}, WireWord(Reply::EraseOk), {"unexpected answer: ERASE OK"}, false},
      {"a doubled answer",
       {Cmd::VerifyBoot},
       WireWord(Reply::VerifyBootOk) + WireWord(Reply::VerifyBootOk),
       {"Verify boot code ok", "unexpected answer: Verify boot code ok"},
       false},
      {"another command's word while one waits",
       {Cmd::VerifyApp},
       WireWord(Reply::EraseFail),
       {"unexpected answer: ERASE fail"},
       true},
      {"two commands out, answered in either order",
       {Cmd::EraseFlash, Cmd::VerifyApp},
       WireWord(Reply::VerifyAppFail) + WireWord(Reply::EraseOk),
       {"Verify App fail", "ERASE OK"},
       false},
      {"the answer to a command of the last connection", {Cmd::TuneTest}, {}, {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    for (std::uint32_t word : c.Sent) ASSERT_TRUE(core.SendCmdWord(word));
    Sent();
    screen.Clear();
    port.Say(c.Said);
    Settle();
    EXPECT_EQ(screen.Log, c.Log);
    EXPECT_EQ(core.AwaitingReply(), c.StillAwaiting);
    core.CancelReplyWait();
  }
  // The tune test above was asked on a line that is closed and opened again since.
  core.ClosePort();
  ASSERT_TRUE(Connect());
  LoaderReady();
  screen.Clear();
  port.Say(WireWord(Reply::TuneOk));
  Settle();
  EXPECT_EQ(screen.Log, std::vector<std::string>{"unexpected answer: Tune test ok"});
}

// The answer's first byte came before the command began to go out: it answers an earlier one.
TEST(Dispatcher, AWordThatBeganBeforeItsCommandAnswersNothing) {
  RecordingScreen screen;
  FakeClock clock;
  TempDir dir;
  EngineParts parts(screen, clock, dir.Path());
  parts.DataHandler.Awaits(LoaderCommandOf(Cmd::EraseFlash), 7);
  parts.DataHandler.HandleReplyWord(Reply::EraseOk, 6);
  parts.DataHandler.HandleReplyWord(Reply::EraseOk, 7);
  parts.DataHandler.HandleReplyWord(Reply::EraseOk, 8);
  EXPECT_EQ(screen.Log, (std::vector<std::string>{"unexpected answer: ERASE OK", "ERASE OK",
                                                  "unexpected answer: ERASE OK"}));
}

TEST_F(DataHandlerTest, OnlyTheLoaderReadyWordStopsTheSyncWord) {
  core.ResumeSync();
  EXPECT_EQ(SentAtLeast(kSyncWord.size()), kSyncWord);
  Bytes others;
  for (std::uint32_t word :
       {Reply::SetDlCfgOk, Reply::SetDlCfgFail, Reply::EraseOk, Reply::EraseFail,
        Reply::VerifyBootOk, Reply::VerifyBootFail, Reply::VerifyAppOk, Reply::VerifyAppFail,
        Reply::TuneOk, Reply::TuneFail, Reply::SetDefaultOk, Reply::SetDefaultFail,
        Reply::RunAppFail, Reply::ReadFlashFail, Reply::Status1C, Reply::Status1D, Reply::Status21,
        Reply::Status27})
    others = others + WireWord(word);
  port.Say(others);
  Settle();
  Sent();
  // The sync word goes on.
  EXPECT_EQ(SentAtLeast(kSyncWord.size()), kSyncWord);

  port.Say(WireWord(Reply::LoaderReady));
  Settle();
  Sent();
  RunFor(200ms);  // four sync periods
  EXPECT_TRUE(port.TakeWritten().empty());
}

TEST_F(DataHandlerTest, WorkerProcessesItemsAddedWhileItRests) {
  port.Say(TextLine("one"));
  EXPECT_TRUE(Until([&] { return screen.Log.size() == 1; }));
  // The queue is empty now, so the worker rests; a new item must still get through.
  port.Say(TextLine("two") + TextLine("three"));
  EXPECT_TRUE(Until([&] { return screen.Log.size() == 3; }));
  EXPECT_EQ(screen.Log, (std::vector<std::string>{"one", "two", "three"}));
}

TEST_F(DataHandlerTest, WorkerKeepsUpWithAFloodOfConsoleLines) {
  // Far more than the queue holds, 4 KiB at a time: each piece follows once the receiver has
  // handed the last one over and the handler has had one turn since, the most a fair protocol
  // thread lets a flood do. (Waiting for that turn keeps the test about the handler, not about
  // how soon the system schedules its thread.)
  constexpr int kLines = 5000;
  std::size_t said = 0;
  while (said < kLines) {
    Bytes piece;
    while (said < kLines && piece.size() < 4000)
      piece = piece + TextLine("line " + std::to_string(said++));
    port.Say(piece);
    ASSERT_TRUE(Until([&] { return port.Heard(); }));
    const std::size_t shown = screen.Log.size();
    ASSERT_TRUE(Until([&] { return screen.Log.size() > shown || screen.Log.size() == said; }));
  }
  EXPECT_TRUE(Until([&] { return screen.Log.size() == kLines; }));
  EXPECT_TRUE(screen.Messages.empty())
      << screen.Messages.size() << " boxes, first: " << screen.Messages.front();
  ASSERT_EQ(screen.Log.size(), static_cast<std::size_t>(kLines));
  EXPECT_EQ(screen.Log.back(), "line " + std::to_string(kLines - 1));
}

// Items the receiver never makes: the dispatcher still goes by an item's kind rather than its
// bytes, and drops what the box cannot have meant instead of reading past it.
TEST(Dispatcher, ItemsTheReceiverNeverMakes) {
  struct Row {
    const char* What;
    ItemKind Kind;
    Bytes Item;
    std::vector<std::string> Log;
  };
  const Row rows[] = {
      {"download request a byte short", ItemKind::Reply, {0xBB, 0x22, 0x21, 0xBA, 0x00}, {}},
      {"download request a byte long", ItemKind::Reply, {0xBB, 0x22, 0x21, 0xBA, 0, 0, 0}, {}},
      {"download request of its length",
       ItemKind::Reply,
       {0xBB, 0x22, 0x21, 0xBA, 0, 0},
       {"Download request ignored: no upload file open"}},
      {"text beginning with a result word",
       ItemKind::Text,
       {0xBB, 0x14, 0x21, 0x9E, 'o', 'k', 0x0D, 0},
       {"\xBB\x14\x21\x9Eok"}},
      {"text that is a result word",
       ItemKind::Text,
       WireWord(Reply::UploadAccepted),
       {"\xBB\x14\x21\x9E"}},
      {"the result word as a reply",
       ItemKind::Reply,
       WireWord(Reply::UploadAccepted),
       {"Upload Complete"}},
      {"reply too short for a word", ItemKind::Reply, {0xBB, 0x14}, {"\xBB\x14"}},
  };
  RecordingScreen screen;
  FakeClock clock;
  TempDir dir;
  EngineParts parts(screen, clock, dir.Path());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.What);
    screen.Clear();
    ASSERT_TRUE(parts.DataHandler.AddReplyItem(row.Item.data(), static_cast<int>(row.Item.size()),
                                               row.Kind));
    ASSERT_TRUE(parts.DataHandler.ProcessReplyItem());
    EXPECT_EQ(screen.Log, row.Log);
    EXPECT_TRUE(screen.Messages.empty());
  }
}

// The box's request and a copy of it arrive together; the block goes out while the copy still
// waits its turn in the queue. The copy was made before the box could see the block, so it is
// not answered, however late it is looked at; the same request made after the block went out is.
TEST(Dispatcher, ACopyWaitingWhileItsBlockGoesOutIsNotAnsweredTwice) {
  RecordingScreen screen;
  FakeClock clock;
  TempDir dir;
  FakePort port;
  EngineParts parts(screen, clock, dir.Path());
  ASSERT_TRUE(port.OpenExclusive("fake"));
  parts.Uart.UartConnected = true;
  parts.Uart.ComHandle = &port;
  const std::string path = dir.Path() + "/image.bin";
  WriteFileBytes(path, Bytes(3 * CodeUpload::BlockSize, 0x5A));
  parts.Upload.StartUpload(path);
  const auto writeNext = [&] {
    UartTxThread::Outgoing out;
    ASSERT_TRUE(parts.Tx.TxPass(out));
    const IoResult result = port.Write(out.Data, static_cast<std::size_t>(out.Length), 1000);
    parts.Tx.TxWritten(result);
  };
  writeNext();  // the upload command
  port.TakeWritten();

  const Bytes request = {0xBB, 0x22, 0x21, 0xBA, 1, 0};  // the request for block 1
  const auto add = [&] {
    ASSERT_TRUE(parts.DataHandler.AddReplyItem(request.data(), static_cast<int>(request.size()),
                                               ItemKind::Reply));
  };
  add();
  add();
  ASSERT_TRUE(parts.DataHandler.ProcessReplyItem());
  writeNext();
  EXPECT_EQ(port.TakeWritten().size(), CodeUpload::BlockSize + 4);
  screen.Clear();
  ASSERT_TRUE(parts.DataHandler.ProcessReplyItem());
  EXPECT_EQ(parts.Tx.QueuedCount(), 0);
  EXPECT_EQ(screen.Log, std::vector<std::string>{
                            "Download request for block 1 ignored: its block is still being sent"});

  add();
  ASSERT_TRUE(parts.DataHandler.ProcessReplyItem());
  EXPECT_EQ(parts.Tx.QueuedCount(), 1);
  writeNext();
  EXPECT_EQ(port.TakeWritten().size(), CodeUpload::BlockSize + 4);
}

}  // namespace
