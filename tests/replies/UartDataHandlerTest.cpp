#include <chrono>
#include <string>

#include "dlcfg/DlCfgView.h"
#include "platform/ProtocolThread.h"
#include "platform/Worker.h"
#include "tests/replies/CoreFixture.h"
#include "tests/support/LoopWait.h"

namespace {

using namespace std::chrono_literals;

class DataHandlerTest : public CoreFixture {};

class RecordingDlCfgView : public DlCfgView {
 public:
  bool ShowDLCfgRecord(const std::uint8_t* record) override {
    Records.emplace_back(record, record + 100);
    return true;
  }
  std::vector<Bytes> Records;
};

TEST_F(DataHandlerTest, QueueHolds999ItemsThenRefusesUntilOneIsProcessed) {
  for (int i = 0; i < 999; ++i) AddText("line " + std::to_string(i));
  EXPECT_TRUE(screen.Messages.empty());
  EXPECT_EQ(core.DataHandler.QueuedCount(), 999);

  const Bytes extra = {'x', 0x0D, 0};
  EXPECT_FALSE(core.DataHandler.AddReplyItem(extra.data(), 3, ItemKind::Text));
  EXPECT_EQ(screen.Messages, std::vector<std::string>{"Rx queue is full"});
  EXPECT_EQ(core.DataHandler.QueuedCount(), 999);

  ASSERT_TRUE(core.DataHandler.ProcessReplyItem());
  EXPECT_EQ(screen.LastLog(), "line 0");
  EXPECT_TRUE(core.DataHandler.AddReplyItem(extra.data(), 3, ItemKind::Text));

  ProcessAll();
  ASSERT_EQ(screen.Log.size(), 1000u);
  for (int i = 0; i < 999; ++i) EXPECT_EQ(screen.Log[i], "line " + std::to_string(i));
  EXPECT_EQ(screen.Log.back(), "x");
}

TEST_F(DataHandlerTest, ItemsComeOutInOrderAcrossTheWrap) {
  // Two and a half turns of the ring, in uneven batches, so the wrap falls mid-batch.
  int added = 0;
  int expected = 0;
  while (added < 2500) {
    for (int i = 0; i < 377 && added < 2500; ++i) AddText(std::to_string(added++));
    while (core.DataHandler.ProcessReplyItem()) {
      ASSERT_EQ(screen.LastLog(), std::to_string(expected));
      ++expected;
    }
  }
  EXPECT_EQ(expected, 2500);
  EXPECT_EQ(core.DataHandler.QueuedCount(), 0);
  EXPECT_FALSE(core.DataHandler.ProcessReplyItem());
  EXPECT_EQ(screen.Log.size(), 2500u);
  EXPECT_TRUE(screen.Messages.empty());
}

TEST_F(DataHandlerTest, TextLinesShowEveryByteWithoutTheCarriageReturn) {
  const Bytes ok = {'O', 'K', 0x0D, 0};
  const Bytes high = {0xB0, 0xFF, 0x01, 0x0D, 0};
  const Bytes afterZero = {'a', 0, 'b', 0x0D, 0};
  const Bytes empty = {0x0D, 0};
  for (const Bytes* item : {&ok, &high, &afterZero, &empty})
    core.DataHandler.AddReplyItem(item->data(), static_cast<int>(item->size()), ItemKind::Text);
  // A line cut at its full length has no carriage return; all of it shows.
  Bytes cut(UartRxThread::LineMax, 'z');
  cut.push_back(0);
  core.DataHandler.AddReplyItem(cut.data(), static_cast<int>(cut.size()), ItemKind::Text);

  ProcessAll();
  EXPECT_EQ(screen.Log, (std::vector<std::string>{"OK", "\xB0\xFF\x01", "a", "",
                                                  std::string(UartRxThread::LineMax, 'z')}));
}

TEST_F(DataHandlerTest, TextThatLooksLikeAResultWordStaysText) {
  const Bytes finish = {0xBB, 0x14, 0x21, 0x9E};
  Bytes line = finish;
  line.insert(line.end(), {'o', 'k', 0x0D, 0});
  core.DataHandler.AddReplyItem(line.data(), static_cast<int>(line.size()), ItemKind::Text);
  AddReply(finish);
  core.DataHandler.AddReplyItem(finish.data(), 4, ItemKind::Text);
  ProcessAll();

  EXPECT_EQ(screen.Log, (std::vector<std::string>{"\xBB\x14\x21\x9Eok", "Upload Complete",
                                                  "\xBB\x14\x21\x9E"}));
}

TEST_F(DataHandlerTest, LoaderVersionIsTwoSignedBytesAndDisarms) {
  core.Timeout.SetReplyTimeout(true, 20);
  AddReply({0xBB, 0x26, 0x21, 0xC2, 0x02, 0x00});
  ProcessAll();
  EXPECT_EQ(screen.LastLog(), "2.0");
  EXPECT_FALSE(core.Timeout.Armed());
  EXPECT_TRUE(screen.CmdControls);

  AddReply({0xBB, 0x26, 0x21, 0xC2, 0xFF, 0x80});
  AddReply({0xBB, 0x26, 0x21, 0xC2, 0x01, 0x0A});
  ProcessAll();
  EXPECT_EQ(screen.Log, (std::vector<std::string>{"2.0", "-1.-128", "1.10"}));
}

TEST_F(DataHandlerTest, DownloadRequestsOfTheWrongLengthAreDropped) {
  const std::string path = WriteFile("image.bin", Bytes(10, 0x5A));
  core.Upload.btn_UpdateCodeClick([&] { return std::optional<std::string>(path); });
  Sent();
  screen.Clear();

  AddReply({0xBB, 0x22, 0x21, 0xBA, 0x00});
  AddReply({0xBB, 0x22, 0x21, 0xBA, 0x00, 0x00, 0x00});
  AddText("next");
  ASSERT_TRUE(core.DataHandler.ProcessReplyItem());
  ASSERT_TRUE(core.DataHandler.ProcessReplyItem());
  EXPECT_TRUE(screen.Log.empty());
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(core.Timeout.Armed());

  ASSERT_TRUE(core.DataHandler.ProcessReplyItem());
  EXPECT_EQ(screen.Log, std::vector<std::string>{"next"});

  // The right length reaches the upload: block 0 is the whole ten bytes.
  AddReply({0xBB, 0x22, 0x21, 0xBA, 0x00, 0x00});
  ProcessAll();
  const std::vector<Bytes> sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].size(), 14u);
  EXPECT_EQ(screen.LastLog(), "Download 100%");
}

TEST_F(DataHandlerTest, ConfigurationRecordGoesToTheDialogThenDisarms) {
  Bytes item = {0xBB, 0x23, 0x21, 0xBC};
  for (int i = 0; i < 100; ++i) item.push_back(static_cast<std::uint8_t>(i * 3));

  // Before the dialog exists the reply still ends the wait.
  core.Timeout.SetReplyTimeout(true, 20);
  AddReply(item);
  ProcessAll();
  EXPECT_FALSE(core.Timeout.Armed());

  RecordingDlCfgView view;
  core.DataHandler.SetDlCfgView(&view);
  core.Timeout.SetReplyTimeout(true, 20);
  AddReply(item);
  ProcessAll();
  ASSERT_EQ(view.Records.size(), 1u);
  EXPECT_EQ(view.Records[0], Bytes(item.begin() + 4, item.end()));
  EXPECT_FALSE(core.Timeout.Armed());
  EXPECT_TRUE(screen.Log.empty());
}

TEST_F(DataHandlerTest, DownloadInformationIsDroppedAndUnknownRepliesShowAsText) {
  Bytes info = {0xBB, 0x25, 0x21, 0xC0};
  info.resize(104, 'A');
  AddReply(info);
  AddReply({0xBB, 0x30, 0x21, 'h', 'i', 0x0D, 0});
  AddReply({0xBB, 0x14});  // too short for a word: shown, not dispatched
  ProcessAll();
  EXPECT_EQ(screen.Log, (std::vector<std::string>{"\xBB\x30!hi", "\xBB\x14"}));
}

TEST_F(DataHandlerTest, StatusWordOvertakesQueuedLines) {
  AddText("first");
  AddText("second");
  core.DataHandler.HandleReplyWord(0xBB1621A2u);
  ProcessAll();
  EXPECT_EQ(screen.Log, (std::vector<std::string>{"Verify boot code ok", "first", "second"}));
}

TEST_F(DataHandlerTest, EveryStatusWordHasItsEffectThenDisarms) {
  struct Row {
    std::uint32_t Word;
    std::vector<std::string> Log;
    std::string Caption;  // empty: the status caption is not touched
  };
  const std::vector<Row> rows = {
      {0xBB102196u, {}, "Set DL CFG OK"},
      {0xBB112198u, {}, "Set DL CFG Fail"},
      {0xBB12219Au, {"ERASE OK"}, ""},
      {0xBB13219Cu, {"ERASE fail"}, ""},
      {0xBB1621A2u, {"Verify boot code ok"}, ""},
      {0xBB1721A4u, {"Verify boot code fail"}, ""},
      {0xBB1821A6u, {"Verify App ok"}, ""},
      {0xBB1921A8u, {"Verify App fail"}, ""},
      {0xBB1A21AAu, {"Tune test ok"}, ""},
      {0xBB1B21ACu, {"Tune test fail"}, ""},
      {0xBB1E21B2u, {"Set default CFG ok"}, "Set default CFG ok"},
      {0xBB1F21B4u, {"Set default CFG fail"}, "Set default CFG fail"},
      {0xBB2021B6u, {"Run App fail"}, ""},
      {0xBB2921C8u, {"Read flash fail"}, ""},
      {0xBB1C21AEu, {}, ""},
      {0xBB1D21B0u, {}, ""},
      {0xBB2121B8u, {}, ""},
      {0xBB2721C4u, {}, ""},
      {0xBB3321DCu, {}, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << row.Word);
    screen.Clear();
    screen.Captions.clear();
    core.Timeout.SetReplyTimeout(true, 20);
    ASSERT_FALSE(screen.CmdControls);

    core.DataHandler.HandleReplyWord(row.Word);
    EXPECT_EQ(screen.Log, row.Log);
    if (row.Caption.empty())
      EXPECT_EQ(screen.Captions.count(Caption::DlCfgStatus), 0u);
    else
      EXPECT_EQ(screen.Captions[Caption::DlCfgStatus], row.Caption);
    EXPECT_FALSE(core.Timeout.Armed());
    EXPECT_TRUE(screen.CmdControls);
    EXPECT_FALSE(core.Tx.SyncStopped);
  }
}

TEST_F(DataHandlerTest, StopSyncWordReadiesTheWindow) {
  core.DataHandler.HandleReplyWord(0xBB2421BEu);
  EXPECT_TRUE(core.Tx.SyncStopped);
  EXPECT_EQ(screen.Log, std::vector<std::string>{"Stop send sync byte"});
  EXPECT_TRUE(screen.CmdControls);
  EXPECT_FALSE(core.Timeout.Armed());
  // With the sync word stopped an idle ring stays silent.
  UartTxThread::Outgoing out;
  EXPECT_FALSE(core.Tx.TxPass(out));
  EXPECT_EQ(core.Tx.QueuedCount(), 0);
}

TEST_F(DataHandlerTest, WorkerProcessesItemsAddedWhileItRests) {
  RunLoop contextThread;
  Worker worker("handler", contextThread);
  core.DataHandler.ItemAdded = [&] { worker.Wake(); };
  worker.Start([&](Worker& w) { core.DataHandler.Execute(w); }, false);

  AddText("one");
  EXPECT_TRUE(WaitFor(
      contextThread, [&] { return screen.Log.size() == 1; }, 5000ms));
  // The queue is empty now, so the worker rests; a new item must still get through.
  AddText("two");
  AddText("three");
  EXPECT_TRUE(WaitFor(
      contextThread, [&] { return screen.Log.size() == 3; }, 5000ms));
  worker.Stop();
  core.DataHandler.ItemAdded = nullptr;
  EXPECT_EQ(screen.Log, (std::vector<std::string>{"one", "two", "three"}));
}

TEST_F(DataHandlerTest, WorkerKeepsUpWithAFloodOfConsoleLines) {
  RunLoop contextThread;
  Worker worker("handler", contextThread);
  core.DataHandler.ItemAdded = [&] { worker.Wake(); };
  worker.Start([&](Worker& w) { core.DataHandler.Execute(w); }, false);

  // A receiver that hands over a 4 KiB piece (about 64 lines) as soon as the handler has had
  // one turn since the last piece: the most a fair protocol thread lets a flood do. (Waiting
  // for that turn keeps the test about the handler, not about how soon the system schedules
  // its thread.)
  constexpr int kLines = 5000;
  int added = 0;
  int queuedAfterPiece = 0;
  Worker receiver("receiver", contextThread);
  receiver.Start(
      [&](Worker& w) {
        if (added >= kLines) {
          w.Sleep(100000);
          return;
        }
        bool handlerHadTurn = added == 0;
        while (!handlerHadTurn) {
          if (!w.HandOver(
                  [&] { handlerHadTurn = core.DataHandler.QueuedCount() < queuedAfterPiece; }))
            return;
          if (!handlerHadTurn) w.Sleep(1);
        }
        w.HandOver([&] {
          for (int j = 0; j < 64 && added < kLines; ++j, ++added)
            AddText("line " + std::to_string(added));
          queuedAfterPiece = core.DataHandler.QueuedCount();
        });
      },
      false);
  EXPECT_TRUE(WaitFor(
      contextThread, [&] { return screen.Log.size() == kLines; }, 20000ms));
  receiver.Stop();
  worker.Stop();
  core.DataHandler.ItemAdded = nullptr;
  EXPECT_TRUE(screen.Messages.empty())
      << screen.Messages.size() << " boxes, first: " << screen.Messages.front();
  ASSERT_EQ(screen.Log.size(), static_cast<std::size_t>(kLines));
  EXPECT_EQ(screen.Log.back(), "line " + std::to_string(kLines - 1));
}

}  // namespace
