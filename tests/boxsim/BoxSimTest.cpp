#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "boxsim/BoxSim.h"
#include "tests/boxsim/BoxLine.h"
#include "tests/support/Pty.h"
#include "wire/Bytes.h"

using boxsim::Answer;
using boxsim::BoxCommand;
using boxsim::Bytes;

namespace {

constexpr std::uint32_t kSetConfig = 0xAA023204;
constexpr std::uint32_t kErase = 0xAA04320A;
constexpr std::uint32_t kVerifyBoot = 0xAA063210;
constexpr std::uint32_t kVerifyApp = 0xAA073213;
constexpr std::uint32_t kTune = 0xAA083216;
constexpr std::uint32_t kReboot = 0xAA093219;
constexpr std::uint32_t kDefault = 0xAA0B321F;
constexpr std::uint32_t kVersion = 0xAA0C3222;
constexpr std::uint32_t kRunApp = 0xAA0D3225;
constexpr std::uint32_t kUpload = 0xAA0F322B;
constexpr std::uint32_t kReadFlash = 0xAA113231;

Bytes Le32(std::uint32_t value) {
  Bytes b(4);
  PutLe32(b.data(), value);
  return b;
}

Bytes Status(std::uint32_t word) {
  return boxsim::StatusFrame(word);
}

boxsim::BoxOptions SmallBlocks() {
  boxsim::BoxOptions options;
  options.blockSize = 8;
  return options;
}

class BoxSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Box.Start());
    Line = std::make_unique<BoxLine>(Box.DevicePath());
    ASSERT_TRUE(Line->IsOpen());
  }

  void Ready() { ASSERT_TRUE(Line->Handshake()); }

  Bytes Ask(std::uint32_t word, const Bytes& payload = {}, std::size_t answerLen = 4) {
    Line->Write(Command(word, payload));
    return Line->Read(answerLen);
  }

  // Announces an image and returns the block number of the box's first request (-1 if none).
  int Announce(std::uint32_t size) {
    Line->Write(Command(kUpload, WithCrc(Le32(size))));
    return NextRequest();
  }

  int NextRequest() {
    Bytes payload;
    if (!DecodePayload(Line->Read(16), 2, payload)) return -1;
    return GetLe16(payload.data());
  }

  void SendBlock(const Bytes& image, int block) {
    const std::size_t start = static_cast<std::size_t>(block) * 8;
    const std::size_t end = std::min(image.size(), start + 8);
    Line->Write(WithCrc(Bytes(image.begin() + static_cast<std::ptrdiff_t>(start),
                              image.begin() + static_cast<std::ptrdiff_t>(end))));
  }

  boxsim::BoxSim Box{SmallBlocks()};
  std::unique_ptr<BoxLine> Line;
};

TEST_F(BoxSimTest, AnswersARunOfSyncWordsOnceAndIgnoresCommandsBeforeIt) {
  Line->Write(Command(kVersion));
  EXPECT_TRUE(Line->ReadQuiet().empty());

  Line->Write(Concat(Concat(kSyncWord, kSyncWord), kSyncWord));
  EXPECT_EQ(Line->ReadQuiet(), Status(Reply::LoaderReady));
  EXPECT_EQ(Box.SyncWordsSeen(), 3);

  EXPECT_EQ(Ask(kVerifyBoot), Status(Reply::VerifyBootOk));
}

TEST_F(BoxSimTest, AnswersSyncAgainForAToolThatReconnects) {
  Ready();
  usleep(300 * 1000);
  Line->Write(kSyncWord);
  EXPECT_EQ(Line->Read(4), Status(Reply::LoaderReady));
}

TEST_F(BoxSimTest, NeverAnsweringSyncLeavesTheToolWaiting) {
  Box.SetAnswer(BoxCommand::Sync, Answer::Never);
  Line->Write(kSyncWord);
  EXPECT_TRUE(Line->ReadQuiet().empty());
  EXPECT_EQ(Box.SyncWordsSeen(), 1);
}

TEST_F(BoxSimTest, LoaderVersionFrameIsExact) {
  Ready();
  const Bytes frame = Ask(kVersion, {}, 16);
  const std::string text = "0506BAC90C8D";
  EXPECT_EQ(frame, Concat(Status(Reply::LoaderVersion), Bytes(text.begin(), text.end())));

  Box.SetLoaderVersion(1, 10);
  Bytes payload;
  ASSERT_TRUE(DecodePayload(Ask(kVersion, {}, 16), 2, payload));
  EXPECT_EQ(payload, (Bytes{1, 10}));

  Box.SetAnswer(BoxCommand::LoaderVersion, Answer::Bad);
  const Bytes bad = Ask(kVersion, {}, 16);
  EXPECT_EQ(bad.size(), 16u);
  EXPECT_FALSE(DecodePayload(bad, 2, payload));
}

TEST_F(BoxSimTest, TuningTestChecksItsCrc) {
  Ready();
  const Bytes request = WithCrc({0x20, 0x03, 0x00, 0x00, 0x08});
  EXPECT_EQ(Ask(kTune, request), Status(Reply::TuneOk));
  Bytes broken = request;
  broken[4] ^= 0x01;
  EXPECT_EQ(Ask(kTune, broken), Status(Reply::TuneFail));
}

TEST_F(BoxSimTest, RunningTheAppSilencesTheLoaderUntilReboot) {
  Ready();
  Line->Write(Command(kRunApp));
  const Bytes started = Line->ReadQuiet();
  ASSERT_FALSE(started.empty());
  EXPECT_EQ(started.back(), 0x0D);

  Line->Write(Command(kVerifyBoot));
  Line->Write(kSyncWord);
  EXPECT_TRUE(Line->ReadQuiet().empty());

  Line->Write(Command(kReboot));
  const Bytes console = Line->ReadQuiet();
  ASSERT_FALSE(console.empty());
  EXPECT_EQ(console.back(), 0x0D);
  EXPECT_EQ(console.front(), 0x0D);
  // After the reboot the loader waits for the handshake again.
  Line->Write(Command(kVerifyBoot));
  EXPECT_TRUE(Line->ReadQuiet().empty());
  Ready();
  EXPECT_EQ(Ask(kVerifyBoot), Status(Reply::VerifyBootOk));
}

TEST_F(BoxSimTest, UnknownTextIsAnsweredAndLogged) {
  Ready();
  Line->Write({'d', 'c', 'b', 'a'});
  const std::string answer = "Unknown command\r";
  EXPECT_EQ(Line->ReadQuiet(), Bytes(answer.begin(), answer.end()));
  // A word the loader does not know is text too.
  Line->Write({0xAA, 0x03, 0x32, 0x07});
  EXPECT_EQ(Line->ReadQuiet(), Bytes(answer.begin(), answer.end()));

  const auto messages = Box.Messages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[messages.size() - 2].kind, boxsim::MessageKind::Text);
  EXPECT_EQ(messages[messages.size() - 2].bytes, (Bytes{'d', 'c', 'b', 'a'}));
  const Bytes received = Box.Received();
  EXPECT_EQ(Bytes(received.end() - 8, received.end()),
            (Bytes{'d', 'c', 'b', 'a', 0xAA, 0x03, 0x32, 0x07}));
}

TEST_F(BoxSimTest, SetConfigStoresOnlyASealedRecord) {
  Ready();
  boxsim::Record record = boxsim::CableRecord();
  record[14] = 0x34;
  boxsim::SealRecord(record);
  const Bytes good = Concat(Bytes(record.begin(), record.end()), {0x00});
  EXPECT_EQ(Ask(kSetConfig, good), Status(Reply::SetDlCfgOk));
  EXPECT_EQ(Box.ConfigRecord(), record);

  Bytes badCrc = good;
  badCrc[14] = 0x35;
  EXPECT_EQ(Ask(kSetConfig, badCrc), Status(Reply::SetDlCfgFail));
  Bytes noZero = good;
  noZero[100] = 0x01;
  EXPECT_EQ(Ask(kSetConfig, noZero), Status(Reply::SetDlCfgFail));
  EXPECT_EQ(Box.ConfigRecord(), record);

  Box.SetAnswer(BoxCommand::SetConfig, Answer::Bad);
  boxsim::Record other = boxsim::TerrestrialRecord();
  EXPECT_EQ(Ask(kSetConfig, Concat(Bytes(other.begin(), other.end()), {0x00})),
            Status(Reply::SetDlCfgFail));
  EXPECT_EQ(Box.ConfigRecord(), record);
}

TEST_F(BoxSimTest, DefaultConfigRestoresTheDefaultRecord) {
  Ready();
  Box.SetConfigRecord(boxsim::TerrestrialRecord());
  Box.SetAnswer(BoxCommand::DefaultConfig, Answer::Bad);
  EXPECT_EQ(Ask(kDefault), Status(Reply::SetDefaultFail));
  EXPECT_EQ(Box.ConfigRecord(), boxsim::TerrestrialRecord());
  Box.SetAnswer(BoxCommand::DefaultConfig, Answer::Good);
  EXPECT_EQ(Ask(kDefault), Status(Reply::SetDefaultOk));
  EXPECT_EQ(Box.ConfigRecord(), boxsim::DefaultRecord());
}

TEST_F(BoxSimTest, UploadRefusesABlockThatDoesNotMatch) {
  Ready();
  const Bytes image{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  ASSERT_EQ(Announce(13), 0);
  Bytes block = WithCrc(Bytes(image.begin(), image.begin() + 8));
  block[3] ^= 0x40;
  Line->Write(block);
  EXPECT_EQ(Line->Read(4), Status(Reply::UploadRefused));
  EXPECT_EQ(Box.LastUploadOutcome(), boxsim::UploadOutcome::Refused);

  // A block whose CRC holds but whose bytes differ from the expected image is refused too.
  Box.SetExpectedImage(image);
  Bytes wrong = image;
  wrong[9] = 0x55;
  ASSERT_EQ(Announce(13), 0);
  SendBlock(wrong, 0);
  ASSERT_EQ(NextRequest(), 1);
  SendBlock(wrong, 1);
  EXPECT_EQ(Line->Read(4), Status(Reply::UploadRefused));
}

TEST_F(BoxSimTest, UploadCommandWithABadCrcIsRefused) {
  Ready();
  Bytes payload = WithCrc(Le32(13));
  payload[7] ^= 0xFF;
  EXPECT_EQ(Ask(kUpload, payload), Status(Reply::UploadRefused));
}

TEST_F(BoxSimTest, BlockOrdersAreFollowed) {
  Ready();
  const Bytes image{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};

  Box.SetBlockOrder(boxsim::BlockOrder::Backwards);
  std::vector<int> asked{Announce(20)};
  for (int i = 0; i < 3; ++i) {
    SendBlock(image, asked.back());
    if (i < 2) asked.push_back(NextRequest());
  }
  EXPECT_EQ(asked, (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(Line->Read(4), Status(Reply::UploadAccepted));
  EXPECT_EQ(Box.UploadedImage(), image);

  Box.SetBlockOrder(boxsim::BlockOrder::WithRepeats);
  asked = {Announce(20)};
  for (int i = 0; i < 6; ++i) {
    SendBlock(image, asked.back());
    if (i < 5) asked.push_back(NextRequest());
  }
  EXPECT_EQ(asked, (std::vector<int>{0, 0, 1, 1, 2, 2}));
  EXPECT_EQ(Line->Read(4), Status(Reply::UploadAccepted));

  Box.SetBlockOrder(boxsim::BlockOrder::StopHalfway);
  ASSERT_EQ(Announce(20), 0);
  SendBlock(image, 0);
  ASSERT_EQ(NextRequest(), 1);
  SendBlock(image, 1);
  EXPECT_TRUE(Line->ReadQuiet().empty());
  EXPECT_EQ(Box.LastUploadOutcome(), boxsim::UploadOutcome::Stopped);
}

TEST_F(BoxSimTest, ABlockThatNeverComesIsAskedForAgainThenRefused) {
  Ready();
  Box.SetBlockWait(50, 1);
  ASSERT_EQ(Announce(13), 0);
  EXPECT_EQ(NextRequest(), 0);
  EXPECT_EQ(Line->Read(4), Status(Reply::UploadRefused));
  EXPECT_EQ(Box.LastUploadOutcome(), boxsim::UploadOutcome::Abandoned);

  // An empty image still gets block 0 asked for, and is refused when nothing can come.
  ASSERT_EQ(Announce(0), 0);
  EXPECT_EQ(Line->Read(4), Status(Reply::UploadRefused));
}

TEST_F(BoxSimTest, ExplicitRequestsMayGoOutOfRange) {
  Ready();
  Box.SetBlockWait(300, 0);
  Box.SetBlockRequests({0, 5, 1});
  const Bytes image{1, 2, 3, 4, 5, 6, 7, 8, 9};
  ASSERT_EQ(Announce(9), 0);
  SendBlock(image, 0);
  EXPECT_EQ(NextRequest(), 5);
  EXPECT_EQ(NextRequest(), 1);
  SendBlock(image, 1);
  EXPECT_EQ(Line->Read(4), Status(Reply::UploadAccepted));
  EXPECT_EQ(Box.UploadedImage(), image);
}

TEST(BoxSimBlocks, RealBlockSizeSplitsJustPastOneBlock) {
  boxsim::BoxSim box;
  ASSERT_TRUE(box.Start());
  BoxLine line(box.DevicePath());
  ASSERT_TRUE(line.Handshake());
  line.Write(Command(kUpload, WithCrc(Le32(0x1FFFD))));
  Bytes payload;
  ASSERT_TRUE(DecodePayload(line.Read(16), 2, payload));
  EXPECT_EQ(GetLe16(payload.data()), 0);
  EXPECT_TRUE(box.WaitForEvent("upload 131069 bytes: 2 blocks", 10000));
  EXPECT_TRUE(box.WaitForEvent("block 0 requested (131068 bytes)", 10000));
}

TEST_F(BoxSimTest, ThrottledLineStillDeliversAnUpload) {
  Ready();
  Box.SetThrottle(115200);
  Bytes image(40);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13);
  int block = Announce(40);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(block, i);
    SendBlock(image, block);
    if (i < 4) block = NextRequest();
  }
  EXPECT_EQ(Line->Read(4), Status(Reply::UploadAccepted));
  EXPECT_EQ(Box.UploadedImage(), image);
}

TEST_F(BoxSimTest, FlashReadRefusesWhatItCannotServe) {
  Ready();
  const std::uint32_t size = static_cast<std::uint32_t>(Box.Flash().size());
  EXPECT_EQ(Ask(kReadFlash, WithCrc(Concat(Le32(0), Le32(4097)))), Status(Reply::ReadFlashFail));
  EXPECT_EQ(Ask(kReadFlash, WithCrc(Concat(Le32(0), Le32(0)))), Status(Reply::ReadFlashFail));
  EXPECT_EQ(Ask(kReadFlash, WithCrc(Concat(Le32(size - 8), Le32(16)))),
            Status(Reply::ReadFlashFail));
  EXPECT_EQ(Ask(kReadFlash, WithCrc(Concat(Le32(0xFFFFFFF0), Le32(0x20)))),
            Status(Reply::ReadFlashFail));
  Bytes broken = WithCrc(Concat(Le32(0), Le32(16)));
  broken.back() ^= 1;
  EXPECT_EQ(Ask(kReadFlash, broken), Status(Reply::ReadFlashFail));
  Box.SetAnswer(BoxCommand::ReadFlash, Answer::Bad);
  EXPECT_EQ(Ask(kReadFlash, WithCrc(Concat(Le32(0), Le32(16)))), Status(Reply::ReadFlashFail));
}

TEST_F(BoxSimTest, EraseClearsOnlyItsRange) {
  Ready();
  const Bytes before = Box.Flash();
  EXPECT_EQ(Ask(kErase, WithCrc(Concat(Le32(0x10000), Le32(0x9000)))), Status(Reply::EraseOk));
  const Bytes after = Box.Flash();
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(Bytes(after.begin(), after.begin() + 0x10000),
            Bytes(before.begin(), before.begin() + 0x10000));
  EXPECT_EQ(Bytes(after.begin() + 0x10000, after.begin() + 0x19000), Bytes(0x9000, 0xFF));
  EXPECT_EQ(Bytes(after.begin() + 0x19000, after.end()),
            Bytes(before.begin() + 0x19000, before.end()));

  EXPECT_EQ(Ask(kErase, WithCrc(Concat(Le32(0xFFFFF000), Le32(0x2000)))), Status(Reply::EraseFail));
  Bytes broken = WithCrc(Concat(Le32(0), Le32(0x100)));
  broken[0] ^= 1;
  EXPECT_EQ(Ask(kErase, broken), Status(Reply::EraseFail));
  EXPECT_EQ(Box.Flash(), after);
}

TEST_F(BoxSimTest, FaultsSpoilTheChosenFrameOnly) {
  Ready();
  boxsim::Fault fault;
  fault.kind = boxsim::FaultKind::BadCrc;
  fault.which = 1;
  Box.InjectFault(fault);
  Bytes payload;
  EXPECT_TRUE(DecodePayload(Ask(kVersion, {}, 16), 2, payload));
  const Bytes spoiled = Ask(kVersion, {}, 16);
  EXPECT_EQ(spoiled.size(), 16u);
  EXPECT_FALSE(DecodePayload(spoiled, 2, payload));
  EXPECT_TRUE(DecodePayload(Ask(kVersion, {}, 16), 2, payload));

  fault = {};
  fault.kind = boxsim::FaultKind::DropByte;
  Box.InjectFault(fault);
  EXPECT_EQ(Line->Read(16, 200).size(), 0u);  // nothing asked yet: faults wait for a frame
  Line->Write(Command(kVersion));
  EXPECT_EQ(Line->ReadQuiet().size(), 15u);

  fault.kind = boxsim::FaultKind::Duplicate;
  Box.InjectFault(fault);
  Line->Write(Command(kVerifyBoot));
  EXPECT_EQ(Line->ReadQuiet(), Concat(Status(Reply::VerifyBootOk), Status(Reply::VerifyBootOk)));

  fault.kind = boxsim::FaultKind::GarbageBefore;
  fault.garbage = {0x11, 0x22, 0x33};
  Box.InjectFault(fault);
  EXPECT_EQ(Ask(kVerifyBoot, {}, 7), Concat({0x11, 0x22, 0x33}, Status(Reply::VerifyBootOk)));

  fault = {};
  fault.kind = boxsim::FaultKind::PauseInside;
  fault.pauseMs = 40;
  Box.InjectFault(fault);
  EXPECT_EQ(Ask(kVerifyBoot), Status(Reply::VerifyBootOk));
  EXPECT_TRUE(Box.WaitForEvent("fault: pause on BB 16 21 A2", 10000));
}

TEST_F(BoxSimTest, SilenceLastsUntilFaultsAreCleared) {
  Ready();
  boxsim::Fault fault;
  fault.kind = boxsim::FaultKind::Silence;
  Box.InjectFault(fault);
  Line->Write(Command(kVerifyBoot));
  ASSERT_TRUE(Box.WaitForEvent("fault: silence", 10000));
  Line->Write(Command(kVerifyApp));
  Box.PrintLines({"quiet"});
  EXPECT_TRUE(Line->ReadQuiet().empty());
  Box.ClearFaults();
  EXPECT_EQ(Ask(kVerifyApp), Status(Reply::VerifyAppOk));
}

TEST_F(BoxSimTest, FaultsAimAtABlockRequestOrAFlashReply) {
  Ready();
  boxsim::Fault fault;
  fault.kind = boxsim::FaultKind::FlipBit;
  fault.target = boxsim::FaultTarget::BlockRequest;
  fault.which = 1;
  fault.offset = 6;
  Box.InjectFault(fault);
  Box.SetBlockWait(300, 1);
  const Bytes image{1, 2, 3, 4, 5, 6, 7, 8, 9};
  ASSERT_EQ(Announce(9), 0);
  SendBlock(image, 0);
  EXPECT_EQ(NextRequest(), -1);  // the spoiled request for block 1
  EXPECT_EQ(NextRequest(), 1);   // asked again after the wait, unspoiled
  SendBlock(image, 1);
  EXPECT_EQ(Line->Read(4), Status(Reply::UploadAccepted));

  fault = {};
  fault.kind = boxsim::FaultKind::BadCrc;
  fault.target = boxsim::FaultTarget::FlashReply;
  fault.which = 1;
  Box.InjectFault(fault);
  const Bytes read = Command(kReadFlash, WithCrc(Concat(Le32(0), Le32(4))));
  Bytes payload;
  EXPECT_EQ(Ask(kVerifyBoot), Status(Reply::VerifyBootOk));  // other frames do not count
  Line->Write(read);
  EXPECT_TRUE(DecodePayload(Line->Read(20), 4, payload));
  Line->Write(read);
  EXPECT_FALSE(DecodePayload(Line->Read(20), 4, payload));
  Line->Write(read);
  EXPECT_TRUE(DecodePayload(Line->Read(20), 4, payload));
}

TEST(BoxSimPlug, PullingThePlugHangsUpAndPluggingInComesBackAtTheLink) {
  const std::string link = "/tmp/kelvarin-boxsim-test-" + std::to_string(getpid());
  boxsim::BoxOptions options;
  options.linkPath = link;
  {
    boxsim::BoxSim box(options);
    ASSERT_TRUE(box.Start());
    {
      BoxLine line(link);
      ASSERT_TRUE(line.IsOpen());
      ASSERT_TRUE(line.Handshake());
      box.SetConfigRecord(boxsim::CableRecord());
      box.PullPlug();
      EXPECT_TRUE(line.SeesHangUp(1000));
      // Left behind, the link would lead to whatever pseudo-terminal gets the number next.
      struct stat st {};
      EXPECT_NE(lstat(link.c_str(), &st), 0);
    }
    ASSERT_TRUE(box.PlugIn());
    BoxLine again(link);
    ASSERT_TRUE(again.IsOpen());
    ASSERT_TRUE(again.Handshake());
    EXPECT_EQ(box.ConfigRecord(), boxsim::CableRecord());
  }
  EXPECT_NE(access(link.c_str(), F_OK), 0);
}

TEST(BoxSimDevice, PlaysTheBoxOnATerminalItIsGiven) {
  // As a virtual machine leaves its end of a line: cooked, echoing.
  Pty line(false);
  ASSERT_TRUE(line.Ok());
  boxsim::BoxOptions options;
  options.devicePath = line.SlavePath;
  boxsim::BoxSim box(options);
  ASSERT_TRUE(box.Start());
  EXPECT_EQ(box.DevicePath(), line.SlavePath);
  line.Write(kSyncWord);
  EXPECT_EQ(line.Read(2000, 4), Status(Reply::LoaderReady));
  // Nothing of the tool's comes back as an echo, and the box's bytes pass untranslated.
  line.Write(Command(kVersion));
  const std::string text = "0506BAC90C8D";
  EXPECT_EQ(line.Read(2000, 16),
            Concat(Status(Reply::LoaderVersion), Bytes(text.begin(), text.end())));
}

TEST(BoxSimDevice, AMissingDeviceFailsTheStart) {
  boxsim::BoxOptions options;
  options.devicePath = "/dev/kelvarin-no-such-line";
  boxsim::BoxSim box(options);
  EXPECT_FALSE(box.Start());
  EXPECT_EQ(box.StartProblem(), "can't open /dev/kelvarin-no-such-line: No such file or directory");
}

// A second box on a link the first holds would take the first one's tool over.
TEST(BoxSimPlug, ASecondBoxOnAHeldLinkIsRefusedAndTheFirstKeepsIt) {
  const std::string link = "/tmp/kelvarin-boxsim-held-" + std::to_string(getpid());
  boxsim::BoxOptions options;
  options.linkPath = link;
  auto first = std::make_unique<boxsim::BoxSim>(options);
  ASSERT_TRUE(first->Start());
  {
    boxsim::BoxSim second(options);
    EXPECT_FALSE(second.Start());
    boxsim::BoxOptions respelled;
    respelled.linkPath = "/tmp/./" + link.substr(5);
    boxsim::BoxSim third(respelled);
    EXPECT_FALSE(third.Start()) << respelled.linkPath;
    EXPECT_EQ(second.StartProblem(), "the link " + link + " is held by another simulated box" +
                                         " (process " + std::to_string(getpid()) + ")");
    EXPECT_FALSE(second.PlugIn());
  }
  // The refused box leaves the link, its lock and the first box's line as they were.
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(target, first->DevicePath());
  {
    BoxLine line(link);
    ASSERT_TRUE(line.IsOpen());
    EXPECT_TRUE(line.Handshake());
  }
  // Unplugged, the first still holds the link for when it is plugged in again.
  first->PullPlug();
  EXPECT_FALSE(boxsim::BoxSim(options).Start());
  first.reset();

  boxsim::BoxSim next(options);
  EXPECT_TRUE(next.Start()) << next.StartProblem();
}

TEST(BoxSimPlug, RefusesToReplaceAFileAtTheLinkPath) {
  const std::string path = "/tmp/kelvarin-boxsim-file-" + std::to_string(getpid());
  FILE* f = fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  boxsim::BoxOptions options;
  options.linkPath = path;
  {
    boxsim::BoxSim box(options);
    EXPECT_FALSE(box.Start());
    EXPECT_EQ(box.StartProblem(),
              "can't make the link " + path + ": a file that is not a link is in the way");
  }
  EXPECT_EQ(access(path.c_str(), F_OK), 0);
  unlink(path.c_str());
}

}  // namespace
