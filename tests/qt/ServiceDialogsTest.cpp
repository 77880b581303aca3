#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "qt/Flash.h"
#include "qt/Frm_tunetest.h"
#include "qt/MessageBox.h"
#include "tests/support/CoreBench.h"
#include "tests/support/TestBytes.h"
#include "wire/Bytes.h"

namespace {

// Message boxes recorded instead of shown, for as long as it lives.
struct RecordedBoxes {
  RecordedBoxes()
      : Previous(SetMessageBoxHook([this](const std::string& text) { Texts.push_back(text); })) {}
  ~RecordedBoxes() { SetMessageBoxHook(Previous); }
  std::vector<std::string> Texts;
  MessageBoxHook Previous;
};

template <typename T>
T* Control(QWidget& dialog, const char* name) {
  T* control = dialog.findChild<T*>(name);
  EXPECT_NE(control, nullptr) << name;
  return control;
}

void Type(QWidget& dialog, const char* edit, const QString& text) {
  QLineEdit* box = Control<QLineEdit>(dialog, edit);
  if (!box) return;
  box->clear();
  QTest::keyClicks(box, text);
}

void Click(QWidget& dialog, const char* button) {
  if (QPushButton* b = Control<QPushButton>(dialog, button)) QTest::mouseClick(b, Qt::LeftButton);
}

// The object names of the controls reached with Tab, starting at the first one.
QStringList TabOrder(QWidget& dialog, const char* first) {
  QStringList names;
  QWidget* w = Control<QWidget>(dialog, first);
  for (int i = 0; w && i < 10; ++i, w = w->nextInFocusChain()) {
    if (w != &dialog && (w->focusPolicy() & Qt::TabFocus)) {
      if (names.contains(w->objectName())) break;
      names << w->objectName();
    }
  }
  return names;
}

// Every label shows its whole text and stays clear of the edits and buttons.
void ExpectLabelsUnclipped(QWidget& dialog) {
  for (QLabel* label : dialog.findChildren<QLabel*>()) {
    const int needed = label->fontMetrics().horizontalAdvance(label->text());
    EXPECT_GE(label->width(), needed) << label->objectName().toStdString();
    EXPECT_GE(label->height(), label->fontMetrics().height()) << label->objectName().toStdString();
    const QRect textArea(label->pos(), QSize(needed, label->height()));
    for (QWidget* other : dialog.findChildren<QWidget*>()) {
      if (!qobject_cast<QLineEdit*>(other) && !qobject_cast<QPushButton*>(other)) continue;
      EXPECT_FALSE(textArea.intersects(other->geometry()))
          << label->objectName().toStdString() << " / " << other->objectName().toStdString();
    }
  }
}

TEST(TuneDialog, LayoutCaptionsAndTabOrder) {
  CoreBench bench;
  Tform_Tune dialog(bench.core);
  EXPECT_EQ(dialog.objectName(), "form_Tune");
  EXPECT_EQ(dialog.windowTitle(), "form_Tune");
  EXPECT_EQ(dialog.size(), QSize(233, 149));
  EXPECT_EQ(Control<QLabel>(dialog, "Label1")->text(), "Freuency (KHz)");
  EXPECT_EQ(Control<QLabel>(dialog, "Label2")->text(), "Bandwidth");
  EXPECT_EQ(Control<QPushButton>(dialog, "Btn_OK")->geometry(), QRect(144, 80, 75, 25));
  EXPECT_EQ(TabOrder(dialog, "Edt_Frequency"),
            (QStringList{"Edt_Frequency", "Edt_Bandwidth", "Btn_OK"}));
  ExpectLabelsUnclipped(dialog);
}

TEST(TuneDialog, OkSendsTheTuningRequestAndStaysOpen) {
  CoreBench bench;
  Tform_Tune dialog(bench.core);
  dialog.show();
  Type(dialog, "Edt_Frequency", "800");
  Type(dialog, "Edt_Bandwidth", "8");
  Click(dialog, "Btn_OK");
  // 800 kHz and 8 MHz.
  const Bytes request = Concat({0xAA, 0x08, 0x32, 0x16}, WithCrc({0x20, 0x03, 0x00, 0x00, 0x08}));
  EXPECT_EQ(bench.screen.Log, (std::vector<std::string>{"Cmd > 163208aa"}));
  EXPECT_EQ(bench.Sent(), request);
  EXPECT_TRUE(dialog.isVisible());

  Type(dialog, "Edt_Bandwidth", " +8");
  QTest::keyClick(Control<QLineEdit>(dialog, "Edt_Bandwidth"), Qt::Key_Return);
  EXPECT_TRUE(bench.Sent().empty());  // Enter is no click
  Click(dialog, "Btn_OK");
  EXPECT_EQ(bench.Sent(), request);
  EXPECT_TRUE(dialog.isVisible());

  // A bandwidth the request has no room for is refused, not cut to its low byte.
  const RecordedBoxes boxes;
  Type(dialog, "Edt_Bandwidth", "264");
  Click(dialog, "Btn_OK");
  EXPECT_EQ(boxes.Texts, (std::vector<std::string>{"Bandwidth: a decimal number from 0 to 255"}));
  EXPECT_TRUE(bench.Sent().empty());
  EXPECT_TRUE(dialog.isVisible());
}

TEST(FlashDialog, LayoutCaptionsAndTabOrder) {
  CoreBench bench;
  TForm_EraseFlash dialog(bench.core);
  EXPECT_EQ(dialog.objectName(), "Form_EraseFlash");
  EXPECT_EQ(dialog.windowTitle(), "Erase Flash");
  EXPECT_EQ(dialog.size(), QSize(291, 192));
  EXPECT_EQ(Control<QLabel>(dialog, "Label1")->text(), "Start Addr (0x)");
  EXPECT_EQ(Control<QLabel>(dialog, "Label2")->text(), "Size (0x)");
  EXPECT_EQ(Control<QLabel>(dialog, "Label3")->text(), "(Max Size: 0x9000)");
  EXPECT_EQ(Control<QLabel>(dialog, "Label4")->text(), "(Output file : flashdata.bin)");
  EXPECT_EQ(Control<QPushButton>(dialog, "Btn_ReadFlash")->text(), "Read");
  EXPECT_EQ(Control<QPushButton>(dialog, "Btn_EraseFlashOK")->text(), "Erase");
  EXPECT_EQ(TabOrder(dialog, "Edt_StartAddr"),
            (QStringList{"Edt_StartAddr", "Edt_Offset", "Btn_EraseFlashOK", "Btn_ReadFlash"}));
  ExpectLabelsUnclipped(dialog);
}

TEST(FlashDialog, EraseSendsStartAndSizeReadAsHex) {
  CoreBench bench;
  TForm_EraseFlash dialog(bench.core);
  dialog.show();
  Type(dialog, "Edt_StartAddr", "0x10000");
  Type(dialog, "Edt_Offset", "9000");
  Click(dialog, "Btn_EraseFlashOK");
  EXPECT_EQ(bench.screen.Log, (std::vector<std::string>{"Cmd > a3204aa"}));
  EXPECT_EQ(bench.Sent(), Concat({0xAA, 0x04, 0x32, 0x0A},
                                 WithCrc({0x00, 0x00, 0x01, 0x00, 0x00, 0x90, 0x00, 0x00})));

  Type(dialog, "Edt_StartAddr", "BFC00000");  // an address above 2 GiB goes as typed
  Click(dialog, "Btn_EraseFlashOK");
  const Bytes sent = bench.Sent();
  ASSERT_EQ(sent.size(), 16u);
  EXPECT_EQ(GetLe32(sent.data() + 4), 0xBFC00000u);
  EXPECT_TRUE(dialog.isVisible());
}

TEST(FlashDialog, ReadSendsItsFirstRequestFromTheFieldsReadAsHex) {
  CoreBench bench;
  TForm_EraseFlash dialog(bench.core);
  const RecordedBoxes boxes;
  Type(dialog, "Edt_StartAddr", "BFC00000");
  Click(dialog, "Btn_ReadFlash");  // empty size: nothing at all
  EXPECT_EQ(boxes.Texts,
            (std::vector<std::string>{"Size: a hexadecimal number from 1 to 40400000"}));
  EXPECT_TRUE(bench.screen.Log.empty());
  EXPECT_TRUE(bench.Sent().empty());

  Type(dialog, "Edt_Offset", "1800");
  Click(dialog, "Btn_ReadFlash");
  EXPECT_EQ(bench.screen.Log, (std::vector<std::string>{"6144", "Cmd > 313211aa"}));
  const Bytes sent = bench.Sent();
  ASSERT_EQ(sent.size(), 16u);
  EXPECT_EQ(GetLe32(sent.data() + 4), 0xBFC00000u);
  EXPECT_EQ(GetLe32(sent.data() + 8), 4096u);
  EXPECT_EQ(bench.core.Progress().Total, 0x1800u);
}

}  // namespace
