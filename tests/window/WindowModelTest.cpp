#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "replies/CodeUpload.h"
#include "tests/support/BoxSays.h"
#include "tests/support/CoreBench.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakePort.h"
#include "tests/support/LoopWait.h"
#include "tests/support/TempDir.h"
#include "window/WindowModel.h"
#include "wire/Bytes.h"
#include "wire/Words.h"

namespace {

using namespace std::chrono_literals;

// The main window as a face would draw it, written down.
class FakeFace : public WindowFace, public DialogView {
 public:
  std::optional<std::string> Latin1Text(const char* control) const override {
    if (BeyondLatin1) return std::nullopt;
    const auto text = Texts.find(control);
    return text == Texts.end() ? std::string() : text->second;
  }
  std::string SystemText(const char* control) const override {
    const auto text = Texts.find(control);
    return text == Texts.end() ? std::string() : text->second;
  }
  void SetLatin1Text(const char* control, const std::string& text) override {
    Texts[control] = text;
  }
  void SetSystemText(const char* control, const std::string& text) override {
    Texts[control] = text;
  }
  int Chosen(const char*) const override { return -1; }
  void Choose(const char*, int) override {}
  void Enable(const char* control, bool enabled) override {
    Enabled[control] = enabled;
    ++Switches;
  }
  void Show(const char* control, bool shown) override { Shown[control] = shown; }
  void Message(const std::string& text) override { Messages.push_back(text); }
  void LogWaiting() override {}
  void AppendLog(const std::vector<LogLine>& lines) override {
    for (const LogLine& line : lines) Log.push_back(line.Text);
  }
  void StatusChanged() override {}
  void FocusEntry() override {}
  void Open(WindowAction what) override { Opened.push_back(what); }
  std::optional<std::string> PickImage() override {
    ++Picks;
    return Image;
  }
  bool Logged(const std::string& line) const {
    return std::find(Log.begin(), Log.end(), line) != Log.end();
  }

  std::map<std::string, std::string> Texts;
  std::map<std::string, bool> Enabled;
  std::map<std::string, bool> Shown;
  int Switches = 0;
  std::vector<std::string> Messages;
  std::vector<std::string> Log;
  std::vector<WindowAction> Opened;
  std::optional<std::string> Image;
  int Picks = 0;
  bool BeyondLatin1 = false;  // every text holds a character beyond one byte
};

// The model over an engine on a fake port, connected and with the loader answered.
class WindowModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Model.Bind(Engine);
    Engine.StartWorkers();
    PortRequest request;
    request.Name = "COM3";
    ASSERT_TRUE(Engine.OpenPort(request));
    Port.Say(WireWord(Reply::LoaderReady));
    ASSERT_TRUE(Until([&] { return Face.Logged("Stop send sync byte"); }));
  }
  void TearDown() override { Engine.Shutdown(); }
  template <typename Done>
  bool Until(Done done) {
    return WaitFor(
        Loop,
        [&] {
          Model.FlushLog();
          return done();
        },
        5s);
  }

  TempDir Dir;
  FakeFace Face;
  WindowModel Model{Face, Face};
  FakeClock Clock;
  FakePort Port;
  CountingLoop Loop;
  Core Engine{Model, Clock, Dir.Path(), Loop, Port};
};

// Upload Code is "upload this image" or "stop": picking the image is the face's, and what the
// button does is the engine's state, never the button's caption.
TEST_F(WindowModelTest, UploadCodePicksAnImageOrStopsTheUploadUnderWay) {
  Face.Image = std::nullopt;
  Model.Pressed("btn_UpdateCode");
  EXPECT_EQ(Face.Picks, 1);
  EXPECT_EQ(Engine.Progress().What, Core::WorkProgress::Job::None) << "cancelled: nothing goes";

  const std::string image = Dir.FilePath("app.bin");
  WriteFileBytes(image, Bytes(3 * CodeUpload::BlockSize, 0x5A));
  Face.Image = image;
  Face.Texts["btn_UpdateCode"] = "Upload Code";
  Model.Pressed("btn_UpdateCode");
  EXPECT_EQ(Face.Picks, 2);
  ASSERT_EQ(Engine.Progress().What, Core::WorkProgress::Job::Upload);
  EXPECT_EQ(Face.Texts["btn_UpdateCode"], "Stop");
  Face.Texts["btn_UpdateCode"] = "Upload Code";  // whatever it says
  Model.Pressed("btn_UpdateCode");
  EXPECT_EQ(Face.Picks, 2) << "a running upload stops without a question";
  EXPECT_EQ(Engine.Progress().What, Core::WorkProgress::Job::None);
  EXPECT_TRUE(Until([&] { return Face.Logged("Upload stopped"); }));

  Engine.ClosePort();
  Model.Pressed("btn_UpdateCode");
  EXPECT_EQ(Face.Picks, 2) << "no port: no question";
  EXPECT_EQ(Face.Messages, std::vector<std::string>{"Uart does not connected"});
}

// The box asks for block after block: the controls are switched when the upload starts and
// when its last block has gone, not with every block.
TEST_F(WindowModelTest, BlocksOfAnUploadSwitchNoControl) {
  const std::string image = Dir.FilePath("app.bin");
  WriteFileBytes(image, Bytes(5 * CodeUpload::BlockSize, 0x33));
  Face.Image = image;
  Model.Pressed("btn_UpdateCode");
  const auto request = [&](std::uint16_t k) {
    EXPECT_TRUE(Until([&] { return Engine.Written(Engine.LastQueued()); }));
    Bytes block(2);
    PutLe16(block.data(), k);
    Port.Say(PayloadFrame(Reply::DownloadRequest, block));
  };
  request(0);
  ASSERT_TRUE(Until([&] { return Face.Logged("Download 20%"); }));
  const int before = Face.Switches;
  EXPECT_FALSE(Face.Enabled["btn_SendCmd"]);
  for (std::uint16_t k = 1; k < 4; ++k) request(k);
  ASSERT_TRUE(Until([&] { return Face.Logged("Download 80%"); }));
  EXPECT_EQ(Face.Switches, before) << "controls switched while blocks went";
  request(4);
  // After the last block only the box's verdict is due: the controls work again.
  ASSERT_TRUE(Until([&] { return Face.Logged("Download 100%"); }));
  EXPECT_TRUE(Face.Enabled["btn_SendCmd"]);
  EXPECT_EQ(Face.Texts["btn_UpdateCode"], "Stop");
}

// Every control of the table does what its row says; Service shows the rows it keeps out of
// the way, and nothing else.
TEST_F(WindowModelTest, EachControlDoesWhatItsRowSays) {
  const struct {
    const char* Control;
    Bytes Sent;  // on the line; empty: a dialog opens
    WindowAction Opens;
  } cases[] = {
      {"btn_CmdVerifyBootCode", WireWord(Cmd::VerifyBoot), WindowAction::Setting},
      {"btn_CmdVerifyApp", WireWord(Cmd::VerifyApp), WindowAction::Setting},
      {"btn_CmdRunApp", WireWord(Cmd::RunApp), WindowAction::Setting},
      {"btn_CmdLoadVer", WireWord(Cmd::LoaderVersion), WindowAction::Setting},
      {"btn_CmdEraseFlash", {}, WindowAction::FlashDialog},
      {"btn_CmdTuneTest", {}, WindowAction::TuneDialog},
      {"Btn_DL_Cfg", {}, WindowAction::ConfigDialog},
      {"tbtn_Setting", {}, WindowAction::Setting},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Control);
    Face.Opened.clear();
    Port.TakeWritten();
    Model.Pressed(c.Control);
    ASSERT_TRUE(Until([&] { return Engine.Written(Engine.LastQueued()); }));
    const Bytes sent = Port.TakeWritten();
    if (c.Sent.empty()) {
      EXPECT_EQ(Face.Opened, std::vector<WindowAction>{c.Opens});
    } else {
      EXPECT_EQ(sent, c.Sent);
      EXPECT_TRUE(Face.Opened.empty());
    }
    Engine.CancelReplyWait();
  }
  Model.ServiceShown(true);
  for (const WindowControl& control : WindowControls())
    EXPECT_EQ(Face.Shown.count(control.Name), control.ServiceOnly ? 1u : 0u) << control.Name;
  // Reboot: the loader starts again, and until it answers only Disconnect works.
  Model.Pressed("btn_CmdRebootSTB");
  ASSERT_TRUE(Until([&] { return Engine.Written(Engine.LastQueued()); }));
  EXPECT_EQ(Port.TakeWritten(), WireWord(Cmd::RebootStb));
  EXPECT_FALSE(Face.Enabled["tbtn_Setting"]);
  EXPECT_TRUE(Face.Enabled["tbtn_UartDisconnect"]);
  EXPECT_FALSE(Face.Enabled["btn_CmdVerifyApp"]);
}

// A command typed into the entry goes out as its bytes, Send Cmd empties the entry, Enter keeps
// it; a character beyond one byte sends nothing and says why.
TEST_F(WindowModelTest, TheEntrySendsItsBytesOrSaysWhyNot) {
  ASSERT_TRUE(Until([&] { return Engine.Written(Engine.LastQueued()); }));
  Port.TakeWritten();
  Face.Texts["text_Cmd"] = "help!";
  Model.EntryEntered();
  ASSERT_TRUE(Until([&] { return Engine.Written(Engine.LastQueued()); }));
  // The first four bytes go as a command word's would, turned round.
  EXPECT_EQ(Port.TakeWritten(), (Bytes{'p', 'l', 'e', 'h', '!'}));
  EXPECT_EQ(Face.Texts["text_Cmd"], "help!");
  Engine.CancelReplyWait();
  Model.Pressed("btn_SendCmd");
  ASSERT_TRUE(Until([&] { return Engine.Written(Engine.LastQueued()); }));
  EXPECT_EQ(Face.Texts["text_Cmd"], "");
  Engine.CancelReplyWait();
  Port.TakeWritten();
  const std::uint64_t queued = Engine.LastQueued();
  Face.BeyondLatin1 = true;
  Model.Pressed("btn_SendCmd");
  EXPECT_EQ(Engine.LastQueued(), queued) << "nothing went out";
  ASSERT_EQ(Face.Messages.size(), 1u);
  EXPECT_NE(Face.Messages[0].find("beyond Latin-1"), std::string::npos);
}

}  // namespace
