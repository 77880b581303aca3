#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "dlcfg/DlCfgRecord.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/qt/Controls.h"
#include "wire/Bytes.h"

namespace {

using boxsim::Answer;
using boxsim::BoxCommand;

class Config : public EndToEnd {
 protected:
  Tform_DL_Config& Dialog() { return Program->form_DL_Config; }

  QLineEdit* Edit(const std::string& name) {
    return Dialog().findChild<QLineEdit*>(QString::fromStdString(name));
  }

  void Click(const char* button) {
    auto* b = Dialog().findChild<QPushButton*>(button);
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(Until([&] { return b->isEnabled(); })) << button;
    b->click();
  }

  void GetConfig() {
    Control<QPlainTextEdit>(Main(), "Memo_Msg")->clear();
    Click("btn_GetDLCfg");
    ASSERT_TRUE(Logged("Cmd > 13201aa"));
    ASSERT_TRUE(Until([&] { return Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled(); }));
  }

  // Every edit of the record's layout shows what the record holds.
  void ExpectShown(const boxsim::Record& record) {
    for (const auto& [field, text] : ShownTexts(record.data())) {
      const std::string edit = FieldControl(field);
      ASSERT_NE(Edit(edit), nullptr) << edit;
      EXPECT_EQ(Edit(edit)->text().toLatin1().toStdString(), text) << edit;
    }
    EXPECT_EQ(Edit("text_DeliveryType")->text().toStdString(), std::to_string(record[88]));
  }
};

TEST_F(Config, RecordsOfEveryDeliveryTypeAreShownFieldByField) {
  Connect();
  struct Case {
    boxsim::Record Record;
    const char* Group;
    const char* Radio;
  };
  const Case cases[] = {{boxsim::CableRecord(), "grpbox_Cable", "Cable"},
                        {boxsim::SatelliteRecord(), "grpbox_sat", "Satellite"},
                        {boxsim::TerrestrialRecord(), "grpbox_Ter", "Terrestrial"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Group);
    Box->SetConfigRecord(c.Record);
    GetConfig();
    ExpectShown(c.Record);
    EXPECT_TRUE(Dialog().findChild<QWidget*>(c.Group)->isVisibleTo(&Dialog()));
    for (auto* radio : Dialog().findChildren<QRadioButton*>())
      EXPECT_EQ(radio->isChecked(), radio->text() == c.Radio) << radio->text().toStdString();
    EXPECT_EQ(Dialog().StatusCaption(), "Status");
  }
  EXPECT_TRUE(Boxes.empty());

  // A box holding an odd delivery type: satellite fields, terrestrial box, and a warning
  // (selecting the terrestrial item runs the delivery type check only when it changes).
  Box->SetConfigRecord(boxsim::SatelliteRecord());
  GetConfig();
  Box->SetConfigRecord(boxsim::OddRecord(0));
  GetConfig();
  ExpectShown(boxsim::OddRecord(0));
  EXPECT_EQ(Boxes, std::vector<std::string>{"Delivery Type does not match"});
}

TEST_F(Config, AChangedFieldIsSetAndReadBack) {
  Connect();
  for (const boxsim::Record& original :
       {boxsim::SatelliteRecord(), boxsim::CableRecord(), boxsim::TerrestrialRecord()}) {
    Box->SetConfigRecord(original);
    GetConfig();
    Edit("text_Timeout")->setText("1234");
    Edit("text_DLPid")->setText("1ffe");
    Click("btn_SetDLCfg");
    EXPECT_TRUE(Logged("Cmd > 43202aa len = 105"));
    ASSERT_TRUE(Until([&] { return Dialog().StatusCaption() == "Set DL CFG OK"; }));

    boxsim::Record expected = original;
    PutLe32(&expected[8], 1234);
    PutLe16(&expected[14], 0x1FFE);
    boxsim::SealRecord(expected);
    EXPECT_TRUE(Box->ConfigRecord() == expected);

    Edit("text_Timeout")->clear();
    GetConfig();
    EXPECT_EQ(Edit("text_Timeout")->text(), "1234");
    EXPECT_EQ(Edit("text_DLPid")->text(), "1ffe");
  }
  EXPECT_TRUE(Boxes.empty());
}

// A text that does not fit its field stops "Set Config" with one message naming the field;
// nothing goes to the box. The forms the dialog has always taken still go.
TEST_F(Config, TextsThatDoNotFitTheirFieldSendNothing) {
  Connect();
  const boxsim::Record original = boxsim::SatelliteRecord();
  Box->SetConfigRecord(original);
  GetConfig();
  const QString cyrillic = QString::fromUtf8("\xd0\xa2\xd0\xb5\xd1\x81\xd1\x82");
  struct Case {
    const char* Edit;
    QString Text;
    std::string Message;
  };
  const Case cases[] = {
      {"text_Timeout", "abc", "Timeout: a decimal number from -2147483648 to 2147483647"},
      {"text_Timeout", "12abc", "Timeout: a decimal number from -2147483648 to 2147483647"},
      {"text_DLPid", "12345678", "Download Pid: a hexadecimal number from 0 to ffff"},
      {"text_ForceTune", "-1", "Force Tune: a decimal number from 0 to 255"},
      {"text_Sat_Cmd", "HELLOWORLD1234", "Commands: at most 12 characters of one byte (Latin-1)"},
      {"text_Sat_Cmd", cyrillic, "Commands: at most 12 characters of one byte (Latin-1)"},
      {"text_Sat_Freq", cyrillic, "Freq: a decimal number from -2147483648 to 2147483647"},
  };
  Control<QPlainTextEdit>(Main(), "Memo_Msg")->clear();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Message);
    const QString before = Edit(c.Edit)->text();
    Edit(c.Edit)->setText(c.Text);
    Boxes.clear();
    Click("btn_SetDLCfg");
    EXPECT_EQ(Boxes, std::vector<std::string>{c.Message});
    Edit(c.Edit)->setText(before);
  }
  QTest::qWait(200);
  EXPECT_FALSE(Logged("Cmd > 43202aa"));
  for (const boxsim::Message& m : Box->Messages())
    EXPECT_NE(m.word, 0xAA023204u) << "no Set Config reached the box";
  EXPECT_TRUE(Box->ConfigRecord() == original);
  EXPECT_TRUE(Control<QPushButton>(Main(), "btn_UpdateCode")->isEnabled()) << "no answer awaited";

  // Leading blanks, a sign and a 0x prefix are forms the dialog always took.
  Boxes.clear();
  Edit("text_Timeout")->setText("  +45");
  Edit("text_DLPid")->setText("0x1abc");
  Click("btn_SetDLCfg");
  ASSERT_TRUE(Until([&] { return Dialog().StatusCaption() == "Set DL CFG OK"; }));
  EXPECT_EQ(Box->ConfigRecord()[8], 45);
  EXPECT_EQ(Box->ConfigRecord()[14] | Box->ConfigRecord()[15] << 8, 0x1abc);
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(Config, SetDefaultAndARefusedSet) {
  Connect();
  Click("btn_SetDefaultDLCfg");
  ASSERT_TRUE(WaitForLog("Set default CFG ok"));
  EXPECT_EQ(Dialog().StatusCaption(), "Set default CFG ok");
  GetConfig();
  ExpectShown(boxsim::DefaultRecord());

  Box->SetAnswer(BoxCommand::SetConfig, Answer::Bad);
  Click("btn_SetDLCfg");
  ASSERT_TRUE(Until([&] { return Dialog().StatusCaption() == "Set DL CFG Fail"; }));
}

TEST_F(Config, ARecordWithABadCrcLeavesTheFieldsAlone) {
  Connect();
  Box->SetConfigRecord(boxsim::CableRecord());
  GetConfig();
  Box->SetConfigRecord(boxsim::TerrestrialRecord());
  Box->SetAnswer(BoxCommand::GetConfig, Answer::Bad);
  Control<QPlainTextEdit>(Main(), "Memo_Msg")->clear();
  Click("btn_GetDLCfg");
  ASSERT_TRUE(WaitForLog("Download Info CRC fail"));
  ExpectShown(boxsim::CableRecord());
  EXPECT_FALSE(Control<QPushButton>(Main(), "btn_UpdateCode")
                   ->isEnabled());  // still waiting for a good answer
  ExpireReplyTimeout();
  ASSERT_TRUE(WaitForBox("Timeout!!"));
  EXPECT_TRUE(Dialog().findChild<QPushButton*>("btn_GetDLCfg")->isEnabled());
}

}  // namespace
