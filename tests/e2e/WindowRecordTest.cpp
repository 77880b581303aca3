#include <sys/wait.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableView>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/SerialPort.h"
#include "production/RecordStore.h"
#include "qt/Dl_cfg.h"
#include "qt/RecordView.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/qt/Controls.h"
#include "window/WindowRecord.h"

namespace {

using boxsim::Answer;
using boxsim::BoxCommand;

// sha256sum's word for a file: the record's digest is checked against a program of its own.
std::string Sha256Sum(const std::string& path) {
  std::string digest;
  if (std::FILE* p = popen(("sha256sum '" + path + "'").c_str(), "r")) {
    char line[256];
    if (std::fgets(line, sizeof line, p)) digest = std::string(line).substr(0, 64);
    pclose(p);
  }
  return digest;
}

// The window with its record kept in the test's folder, as the program keeps it.
class WindowRecords : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    Keeper = std::make_unique<WindowRecordKeeper>(Path("record.sqlite"), "bench 1",
                                                  [](const std::string&) {});
    Main().AttachRecord(Keeper.get());
  }

  void TearDown() override {
    CloseRecord();
    EndToEnd::TearDown();
  }

  void CloseRecord() {
    if (!Keeper) return;
    Keeper->Close();
    Main().AttachRecord(nullptr);
    Keeper.reset();
  }

  std::vector<BoxRecord> Rows(const std::string& file) {
    std::unique_ptr<RecordStore> store = SqliteRecord(file);
    std::string why;
    std::vector<BoxRecord> rows;
    EXPECT_TRUE(store->Open(why)) << why;
    EXPECT_TRUE(store->Rows({}, true, rows, why)) << why;
    return rows;
  }

  static std::vector<std::string> StepsOf(const BoxRecord& row) {
    std::vector<std::string> steps;
    for (const StepRecord& s : row.Steps)
      steps.push_back(s.Name + ": " + s.Result + (s.Why.empty() ? "" : " (" + s.Why + ")"));
    return steps;
  }

  Tform_DL_Config& Config() { return Program->form_DL_Config; }
  void ClickConfig(const char* button) {
    auto* b = Config().findChild<QPushButton*>(button);
    ASSERT_TRUE(Until([&] { return b->isEnabled(); })) << button;
    b->click();
  }

  std::unique_ptr<WindowRecordKeeper> Keeper;
};

// The bench's own work is on record: the label scanned before, the image with its digest, the
// configuration set with the field that changed, a refused set tried again; the box is ok
// because its last try of each step was, and the label field is clear for the next box.
TEST_F(WindowRecords, ABoxUploadedAndConfiguredIsOneRowWithItsSteps) {
  Control<QLineEdit>(Main(), "text_Label")->setText("5A17-004211");
  Connect();
  const std::string image = WriteFile("fw.bin", Image(300000, 7));
  StartUpload(image);
  ASSERT_TRUE(WaitForLog("Upload Complete"));
  ASSERT_TRUE(Until([&] { return Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled(); }));

  ClickConfig("btn_GetDLCfg");
  ASSERT_TRUE(BoxSaw("get config"));
  ASSERT_TRUE(
      Until([&] { return !Config().findChild<QLineEdit*>("text_Timeout")->text().isEmpty(); }));
  Config().findChild<QLineEdit*>("text_Timeout")->setText("1234");
  Box->SetAnswer(BoxCommand::SetConfig, Answer::Bad);
  ClickConfig("btn_SetDLCfg");
  ASSERT_TRUE(Until([&] { return Config().StatusCaption() == "Set DL CFG Fail"; }));
  Box->SetAnswer(BoxCommand::SetConfig, Answer::Good);
  ClickConfig("btn_SetDLCfg");
  ASSERT_TRUE(Until([&] { return Config().StatusCaption() == "Set DL CFG OK"; }));
  Control<QToolButton>(Main(), "tbtn_UartDisconnect")->click();
  EXPECT_EQ(Control<QLineEdit>(Main(), "text_Label")->text(), "");
  CloseRecord();

  const std::vector<BoxRecord> rows = Rows(Path("record.sqlite"));
  ASSERT_EQ(rows.size(), 1u);
  const BoxRecord& box = rows[0];
  EXPECT_EQ(box.Result, "ok") << box.Why;
  EXPECT_EQ(box.Label, "5A17-004211");
  EXPECT_EQ(box.Station, "bench 1");
  EXPECT_EQ(box.Port, SerialPort::LastingName(Box->DevicePath()));
  EXPECT_EQ(box.Image, image);
  EXPECT_EQ(box.ImageSize, 300000u);
  EXPECT_EQ(box.ImageSha256, Sha256Sum(image));
  EXPECT_GE(box.Bytes, 300000u);
  EXPECT_FALSE(box.Ended.empty());
  EXPECT_EQ(StepsOf(box),
            (std::vector<std::string>{"upload fw.bin: ok", "config get: ok",
                                      "config set Timeout=1234: failed (Set DL CFG Fail)",
                                      "config set Timeout=1234: ok"}));
}

// The loader answering again after a reboot is another box; a window closed while the box has
// not answered leaves that box "interrupted", with the step it was at.
TEST_F(WindowRecords, ARebootBeginsAnotherBoxAndAClosedWindowInterruptsOne) {
  Connect();
  Main().btn_CmdVerifyBootCodeClick();
  ASSERT_TRUE(WaitForLog("Verify boot code ok"));
  Main().btn_CmdRebootSTBClick();
  ASSERT_TRUE(Until([&] { return Count("Stop send sync byte") == 2; }));
  Box->SetAnswer(BoxCommand::VerifyApp, Answer::Never);
  Main().btn_CmdVerifyAppClick();
  ASSERT_TRUE(BoxSaw("verify app -> no answer"));
  CloseRecord();

  const std::vector<BoxRecord> rows = Rows(Path("record.sqlite"));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Result, "ok");
  EXPECT_EQ(StepsOf(rows[0]), (std::vector<std::string>{"verify-boot: ok", "reboot: ok"}));
  EXPECT_EQ(rows[1].Result, "interrupted");
  EXPECT_EQ(rows[1].Status, 130);
  EXPECT_EQ(StepsOf(rows[1]),
            (std::vector<std::string>{"verify-app: failed (the window was closed)"}));
  EXPECT_NE(rows[0].Id, rows[1].Id);
}

// The Record view follows the record while it is open: a box another station process ends
// shows within a second or so, newest first; the filter keeps to the label asked for.
TEST_F(WindowRecords, TheRecordViewShowsABoxEndedElsewhereWhileOpen) {
  Control<QToolButton>(Main(), "tbtn_Record")->click();
  TForm_Record* view = Main().RecordView();
  ASSERT_NE(view, nullptr);
  QTableView* grid = Control<QTableView>(*view, "grid_Boxes");
  ASSERT_TRUE(
      Until([&] { return Control<QLabel>(*view, "lab_Where")->text().contains("record.sqlite"); }));

  // A station process of the command line ends boxes on the same record, its label scanned.
  auto station = [&](const std::string& label) {
    const std::string command = "printf '" + label + "\\n' | " KELVARIN_CLI " --record '" +
                                Path("record.sqlite") + "' --station 'line 2' --label -p '" +
                                Box->DevicePath() + "' erase 0 0x1000 >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(station("5A17-000001"), 0);
  ASSERT_TRUE(Until([&] { return grid->model()->rowCount() == 1; }, 5000));
  Box->SetAnswer(BoxCommand::Erase, Answer::Bad);
  EXPECT_EQ(station("5A17-000002"), 1);
  ASSERT_TRUE(Until([&] { return grid->model()->rowCount() == 2; }, 5000))
      << grid->model()->rowCount() << " rows shown of " << Rows(Path("record.sqlite")).size();
  EXPECT_EQ(grid->model()->index(0, 2).data().toString(), "5A17-000002");
  EXPECT_NE(Control<QPlainTextEdit>(*view, "Memo_Summary")->toPlainText().indexOf("yield: 50.0%"),
            -1)
      << Control<QPlainTextEdit>(*view, "Memo_Summary")->toPlainText().toStdString();

  // A box's steps, and the filters.
  grid->setCurrentIndex(grid->model()->index(1, 0));
  ASSERT_TRUE(Until([&] {
    return Control<QPlainTextEdit>(*view, "Memo_Steps")->toPlainText().contains("erase 0 0x1000");
  }));
  Control<QCheckBox>(*view, "chk_FailedOnly")->setChecked(true);
  ASSERT_TRUE(Until([&] { return grid->model()->rowCount() == 1; }));
  EXPECT_EQ(grid->model()->index(0, 2).data().toString(), "5A17-000002");
  Control<QCheckBox>(*view, "chk_FailedOnly")->setChecked(false);
  Control<QLineEdit>(*view, "text_FilterLabel")->setText("5A17-000001");
  emit Control<QLineEdit>(*view, "text_FilterLabel")->editingFinished();
  ASSERT_TRUE(Until([&] {
    return grid->model()->rowCount() == 1 &&
           grid->model()->index(0, 2).data().toString() == "5A17-000001";
  }));

  // Save as CSV writes what is shown.
  const QString csv = QString::fromStdString(Path("shown.csv"));
  view->PickCsvFile = [csv] { return std::optional<QString>(csv); };
  view->btn_SaveCsvClick();
  const std::vector<std::uint8_t> saved = ReadFile("shown.csv");
  const std::string text(saved.begin(), saved.end());
  EXPECT_EQ(text.rfind("station,", 0), 0u) << text;
  EXPECT_NE(text.find("5A17-000001"), std::string::npos) << text;
  EXPECT_EQ(text.find("5A17-000002"), std::string::npos) << text;
  EXPECT_TRUE(Boxes.empty()) << Boxes.front();
}

}  // namespace
