#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "qt/Dl_cfg.h"
#include "qt/MessageBox.h"
#include "tests/dlcfg/RecordSamples.h"
#include "tests/support/CoreBench.h"

namespace {

class DlCfgDialog : public ::testing::Test, protected CoreBench {
 protected:
  // The dialog's message boxes land with the engine's messages.
  DlCfgDialog()
      : Previous(SetMessageBoxHook(
            [this](const std::string& text) { screen.Messages.push_back(text); })) {}
  ~DlCfgDialog() override { SetMessageBoxHook(Previous); }
  MessageBoxHook Previous;

  template <typename T>
  T* Find(const char* name) {
    T* widget = dialog.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QLineEdit* Edit(const char* name) { return Find<QLineEdit>(name); }
  std::string Text(const char* name) { return Edit(name)->text().toLatin1().toStdString(); }
  void Click(const char* name) { Find<QAbstractButton>(name)->click(); }
  bool Shown(const char* name) { return Find<QGroupBox>(name)->isVisibleTo(&dialog); }
  bool Checked(const char* name) { return Find<QRadioButton>(name)->isChecked(); }

  // The record of the one "Set Config" message sent.
  Record SentRecord() {
    const Bytes sent = Sent();
    Record record{};
    if (sent.size() != 105) {
      ADD_FAILURE() << "no 105-byte message but " << sent.size() << " bytes";
      return record;
    }
    std::copy(sent.begin() + 4, sent.begin() + 104, record.begin());
    return record;
  }

  Tform_DL_Config dialog{core, nullptr};
};

TEST_F(DlCfgDialog, StartsEmptyOnTheSatelliteBox) {
  EXPECT_EQ(dialog.windowTitle(), "Download Config");
  EXPECT_EQ(dialog.StatusCaption(), "Status");
  EXPECT_TRUE(Shown("grpbox_sat"));
  EXPECT_FALSE(Shown("grpbox_Cable"));
  EXPECT_FALSE(Shown("grpbox_Ter"));
  EXPECT_TRUE(Checked("rbtn_Satellite"));
  // Every field of the record has its edit in the form, and only the tuner power starts with
  // a text.
  for (const DlCfgField& field : DlCfgFields()) {
    QLineEdit* edit = Edit(FieldControl(field.Field).c_str());
    ASSERT_NE(edit, nullptr) << field.Field;
    EXPECT_EQ(edit->text(), std::string(field.Field) == "TunerPower" ? "FF" : "") << field.Field;
  }
}

// The form's enabled edits are the fields a technician may change, as the command line's
// `config set` takes them: one column of the field table says which, and the form must agree.
TEST_F(DlCfgDialog, TheFormEnablesExactlyTheFieldsATechnicianMayChange) {
  for (const DlCfgField& field : DlCfgFields()) {
    SCOPED_TRACE(field.Field);
    EXPECT_EQ(Edit(FieldControl(field.Field).c_str())->isEnabled(), field.Use == Editable);
  }
}

TEST_F(DlCfgDialog, NoCaptionIsClipped) {
  dialog.ensurePolished();
  for (QLabel* label : dialog.findChildren<QLabel*>()) {
    SCOPED_TRACE(label->objectName().toStdString());
    if (label->wordWrap())
      EXPECT_LE(label->heightForWidth(label->width()), label->height());
    else
      EXPECT_LE(label->sizeHint().width(), label->width());
  }
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
    SCOPED_TRACE(button->objectName().toStdString());
    EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()) + 8, button->width());
  }
  for (QGroupBox* box : dialog.findChildren<QGroupBox*>()) {
    SCOPED_TRACE(box->objectName().toStdString());
    EXPECT_LE(box->fontMetrics().horizontalAdvance(box->title()) + 16, box->width());
  }
  for (QRadioButton* radio : dialog.findChildren<QRadioButton*>()) {
    SCOPED_TRACE(radio->objectName().toStdString());
    EXPECT_LE(radio->sizeHint().width(), radio->width());
  }
}

TEST_F(DlCfgDialog, SetConfigQueues105BytesAndArmsTheTimeout) {
  dialog.SetStatusCaption("Set DL CFG OK");
  Click("btn_SetDLCfg");

  EXPECT_EQ(screen.LastLog(), "Cmd > 43202aa len = 105");
  EXPECT_EQ(dialog.StatusCaption(), "Status");
  EXPECT_TRUE(core.AwaitingReply());
  EXPECT_FALSE(screen.CmdControls);
  const Bytes sent = Sent();
  ASSERT_EQ(sent.size(), 105u);
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 4), (Bytes{0xAA, 0x02, 0x32, 0x04}));
  EXPECT_EQ(sent[104], 0);
  // Nothing received yet: the satellite layout with every field 0.
  EXPECT_EQ(sent[4 + 25], 0xFF);
  EXPECT_EQ(sent[4 + 81], 0xFF);
  EXPECT_EQ(sent[4 + 60], 0x00);
  EXPECT_TRUE(CrcHolds(sent.data() + 4));
  EXPECT_TRUE(screen.Messages.empty());
}

TEST_F(DlCfgDialog, SetConfigRefusedByTheRingStillAwaitsTheAnswer) {
  core.ClosePort();
  Click("btn_SetDLCfg");
  EXPECT_EQ(screen.Messages, std::vector<std::string>{"Uart does not connected"});
  EXPECT_TRUE(screen.Logged("Cmd > 43202aa len = 105"));
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(core.AwaitingReply());
}

TEST_F(DlCfgDialog, GetConfigSendsTheWordArmsTheTimeoutAndDropsThePartialLine) {
  dialog.SetStatusCaption("Set DL CFG Fail");
  port.Say(ToBytes("partial"));
  ASSERT_TRUE(Until([&] { return port.Heard(); }));
  Click("btn_GetDLCfg");
  EXPECT_EQ(dialog.StatusCaption(), "Status");
  EXPECT_TRUE(core.AwaitingReply());
  EXPECT_EQ(Sent(), (Bytes{0xAA, 0x01, 0x32, 0x01}));
  port.Say(TextLine("next"));
  ASSERT_TRUE(Until([&] { return screen.LastLog().find("next") != std::string::npos; }));
  EXPECT_EQ(screen.LastLog(), "next");
}

TEST_F(DlCfgDialog, GetConfigRefusedKeepsThePartialLineAndArmsNothing) {
  port.Say(ToBytes("partial"));
  ASSERT_TRUE(Until([&] { return port.Heard(); }));
  FillRing();
  Click("btn_GetDLCfg");
  EXPECT_FALSE(core.AwaitingReply());
  EXPECT_EQ(screen.Messages, std::vector<std::string>{"Tx queue is full"});
  port.ReleaseWrites();
  port.Say(TextLine("next"));
  ASSERT_TRUE(Until([&] { return screen.LastLog().find("next") != std::string::npos; }));
  EXPECT_EQ(screen.LastLog(), "partialnext");

  screen.Clear();
  core.ClosePort();
  Click("btn_GetDLCfg");
  EXPECT_FALSE(core.AwaitingReply());
  EXPECT_EQ(screen.Messages, std::vector<std::string>{"Uart does not connected"});
}

TEST_F(DlCfgDialog, SetDefaultSendsItsWord) {
  dialog.SetStatusCaption("Set default CFG ok");
  Click("btn_SetDefaultDLCfg");
  EXPECT_EQ(dialog.StatusCaption(), "Status");
  EXPECT_TRUE(core.AwaitingReply());
  EXPECT_EQ(Sent(), (Bytes{0xAA, 0x0B, 0x32, 0x1F}));
}

TEST_F(DlCfgDialog, CableRecordShowsTheCableBoxAndLeavesTheSatelliteEdits) {
  Edit("text_Sat_Freq")->setText("12345");
  dialog.SetStatusCaption("Status");
  const Record cable = SampleRecord(2);
  dialog.ShowDLCfgRecord(cable.data());

  EXPECT_TRUE(Checked("rbtn_Cable"));
  EXPECT_TRUE(Shown("grpbox_Cable"));
  EXPECT_FALSE(Shown("grpbox_sat"));
  EXPECT_FALSE(Shown("grpbox_Ter"));
  EXPECT_TRUE(screen.Messages.empty());
  EXPECT_EQ(dialog.StatusCaption(), "Status");
  EXPECT_EQ(Text("text_DeliveryType"), "2");
  EXPECT_EQ(Text("text_Cab_ModType"), std::to_string(cable[66]));
  EXPECT_EQ(Text("text_Sat_Freq"), "12345");
  EXPECT_TRUE(Text("text_Reserved").empty());
  EXPECT_TRUE(Text("text_Cab_Reserved").empty());
}

TEST_F(DlCfgDialog, SatelliteRecordAfterACableOneSwitchesBackWithoutAMessage) {
  dialog.ShowDLCfgRecord(SampleRecord(2).data());
  dialog.ShowDLCfgRecord(SampleRecord(1).data());
  EXPECT_TRUE(Checked("rbtn_Satellite"));
  EXPECT_TRUE(Shown("grpbox_sat"));
  EXPECT_FALSE(Shown("grpbox_Cable"));
  EXPECT_TRUE(screen.Messages.empty());
}

TEST_F(DlCfgDialog, OddDeliveryTypeShowsTheTerrestrialBoxTheMessageAndSatelliteValues) {
  Record odd = SampleRecord(0);
  PutLe32(odd.data() + 60, 0xFFFFFFFFu);
  Seal(odd);
  dialog.ShowDLCfgRecord(odd.data());

  EXPECT_TRUE(Checked("rbtn_Terrestrial"));
  EXPECT_TRUE(Shown("grpbox_Ter"));
  EXPECT_FALSE(Shown("grpbox_sat"));
  EXPECT_EQ(screen.Messages, std::vector<std::string>{"Delivery Type does not match"});
  EXPECT_EQ(Text("text_Sat_Freq"), "-1");
  EXPECT_EQ(Text("text_TunerPower"), "FF");

  // Terrestrial is already selected: the next such record changes no selection.
  dialog.ShowDLCfgRecord(odd.data());
  EXPECT_EQ(screen.Messages.size(), 1u);

  Click("btn_SetDLCfg");
  EXPECT_EQ(SentRecord(), odd);
}

TEST_F(DlCfgDialog, WrongRadioItemWarnsAndChangesNeitherBoxNorLayout) {
  for (std::uint8_t type : {1, 2, 3}) {
    SCOPED_TRACE(int{type});
    const Record received = SampleRecord(type);
    dialog.ShowDLCfgRecord(received.data());
    const char* group = type == 1 ? "grpbox_sat" : type == 2 ? "grpbox_Cable" : "grpbox_Ter";
    const char* other = type == 2 ? "rbtn_Terrestrial" : "rbtn_Cable";
    screen.Clear();

    Click(other);
    EXPECT_EQ(screen.Messages, std::vector<std::string>{"Delivery Type does not match"});
    EXPECT_TRUE(Checked(other));
    EXPECT_TRUE(Shown(group));

    Click("btn_SetDLCfg");
    EXPECT_EQ(SentRecord(), received) << "the received record goes back byte for byte";
    core.CancelReplyWait();
  }
}

TEST_F(DlCfgDialog, RadioItemMatchingTheDeliveryTypeShowsItsBox) {
  dialog.ShowDLCfgRecord(SampleRecord(3).data());
  Click("rbtn_Satellite");
  ASSERT_EQ(screen.Messages.size(), 1u);
  Click("rbtn_Terrestrial");
  EXPECT_EQ(screen.Messages.size(), 1u);
  EXPECT_TRUE(Shown("grpbox_Ter"));
  EXPECT_FALSE(Shown("grpbox_sat"));
}

TEST_F(DlCfgDialog, EditedFieldsAndTypedCommandsGoOutInTheirForms) {
  const Record received = SampleRecord(1);
  dialog.ShowDLCfgRecord(received.data());
  EXPECT_EQ(Text("text_Sat_Cmd"), "GO\xE9!");

  Edit("text_Sat_Cmd")
      ->setText(QString::fromLatin1("d\xFC"
                                    "n"));
  Edit("text_BootFlag")->setText("0x1a");
  Edit("text_DLPid")->setText(" +ffff");
  Edit("text_ForceTune")->setText("255");
  Edit("text_Timeout")->setText("-12");
  Click("btn_SetDLCfg");
  const Record sent = SentRecord();

  Record expected = received;
  const std::uint8_t commands[12] = {'d', 0xFC, 'n'};
  std::copy(commands, commands + 12, expected.begin() + 69);
  PutLe32(expected.data() + 4, 0x1A);
  PutLe16(expected.data() + 14, 0xFFFF);
  expected[13] = 0xFF;
  PutLe32(expected.data() + 8, static_cast<std::uint32_t>(-12));
  Seal(expected);
  EXPECT_EQ(sent, expected);
  char crc[16];
  std::snprintf(crc, sizeof crc, "%x", GetLe32(received.data() + DlCfgCrcOffset));
  EXPECT_EQ(Text("text_Crc"), crc) << "the shown CRC stays the received one";
}

}  // namespace
