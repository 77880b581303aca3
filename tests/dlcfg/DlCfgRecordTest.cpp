#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "dlcfg/DlCfgRecord.h"
#include "tests/dlcfg/RecordSamples.h"

namespace {

// What the dialog's edits hold after showing a record: its shown texts and its delivery type.
DlCfgTexts TextsShownFor(const Record& record) {
  DlCfgTexts texts;
  for (const auto& [edit, text] : ShownTexts(record.data())) texts[edit] = text;
  texts["DeliveryType"] = std::to_string(record[DlCfgDeliveryTypeOffset]);
  return texts;
}

std::string ShownText(const Record& record, const std::string& edit) {
  for (const auto& [name, text] : ShownTexts(record.data()))
    if (name == edit) return text;
  return "<not shown>";
}

Record Pack(const DlCfgTexts& texts, const Record& stored = Record{}) {
  Record out{};
  EXPECT_EQ(PackRecord(texts, stored.data(), out.data()), "");
  return out;
}

TEST(DlCfgRecord, ReceivedRecordOfEveryLayoutGoesBackByteForByte) {
  for (std::uint8_t type : {1, 2, 3, 0, 4, 255}) {
    SCOPED_TRACE(int{type});
    const Record received = SampleRecord(type);
    EXPECT_EQ(Pack(TextsShownFor(received), received), received);
  }
  // Every text the dialog shows is taken back, the largest and most negative values too.
  for (const std::uint8_t fill : {0x00, 0x7F, 0x80, 0xFF}) {
    for (const std::uint8_t type : {1, 2, 3}) {
      SCOPED_TRACE(std::to_string(fill) + " type " + std::to_string(type));
      Record received;
      received.fill(fill);
      received[DlCfgDeliveryTypeOffset] = type;
      Record out{};
      EXPECT_EQ(PackRecord(TextsShownFor(received), received.data(), out.data()), "");
    }
  }
}

TEST(DlCfgRecord, ShownTextsFollowTheFieldForms) {
  Record r{};
  PutLe32(r.data() + 4, 0xFFFFFFFFu);  // boot flag, hex
  PutLe32(r.data() + 8, 0xFFFFFFFFu);  // timeout, signed decimal
  PutLe16(r.data() + 2, 0xFFFF);       // struct size, unsigned decimal
  PutLe16(r.data() + 0, 0x0012);       // struct version, hex without leading zeros
  PutLe32(r.data() + 16, 0x00ABCDEF);  // OUI
  r[13] = 0xFF;                        // force tune, unsigned decimal
  PutLe32(r.data() + 60, 0x80000000u);
  r[88] = 1;
  EXPECT_EQ(ShownText(r, "BootFlag"), "ffffffff");
  EXPECT_EQ(ShownText(r, "Timeout"), "-1");
  EXPECT_EQ(ShownText(r, "StructSize"), "65535");
  EXPECT_EQ(ShownText(r, "StructVer"), "12");
  EXPECT_EQ(ShownText(r, "OUI"), "abcdef");
  EXPECT_EQ(ShownText(r, "ForceTune"), "255");
  EXPECT_EQ(ShownText(r, "DLPid"), "0");
  EXPECT_EQ(ShownText(r, "Sat_Freq"), "-2147483648");

  const Record back = Pack(TextsShownFor(r), r);
  EXPECT_EQ(GetLe32(back.data() + 4), 0xFFFFFFFFu);
  EXPECT_EQ(GetLe32(back.data() + 8), 0xFFFFFFFFu);
  EXPECT_EQ(GetLe32(back.data() + 60), 0x80000000u);
}

TEST(DlCfgRecord, ShowsOnlyTheFieldsOfTheRecordsOwnLayout) {
  const Record cable = SampleRecord(2);
  EXPECT_NE(ShownText(cable, "Cab_ModType"), "<not shown>");
  EXPECT_EQ(ShownText(cable, "Sat_Freq"), "<not shown>");
  EXPECT_EQ(ShownText(cable, "TunerPower"), "<not shown>");
  // The delivery type is set by the dialog ahead of everything else.
  EXPECT_EQ(ShownText(cable, "DeliveryType"), "<not shown>");

  const auto texts = ShownTexts(cable.data());
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts.front().first, "StructVer");
  EXPECT_EQ(texts[texts.size() - 2].first, "SignatureType");
  EXPECT_EQ(texts.back().first, "Crc");
  char crc[16];
  std::snprintf(crc, sizeof crc, "%x", GetLe32(cable.data() + DlCfgCrcOffset));
  EXPECT_EQ(texts.back().second, crc);
}

// Every text is read whole and must fit its field; one that does not builds nothing and says
// what the field takes.
TEST(DlCfgRecord, TextsMustFitTheirFieldsOrNothingIsBuilt) {
  struct Case {
    const char* Edit;
    const char* Text;
    const char* Refusal;  // empty: taken, and Value stored at the field's offset
    std::uint32_t Value;
  };
  const char* const timeout = "Timeout: a decimal number from -2147483648 to 2147483647";
  const char* const pid = "Download Pid: a hexadecimal number from 0 to ffff";
  const char* const force = "Force Tune: a decimal number from 0 to 255";
  const char* const flag = "Boot Flag: a hexadecimal number from 0 to ffffffff";
  const Case cases[] = {
      {"DLPid", "0x1a", "", 0x1A},
      {"DLPid", "  +1F", "", 0x1F},
      {"DLPid", "ffff", "", 0xFFFF},
      {"DLPid", "", "", 0},
      {"DLPid", "   ", "", 0},
      {"Timeout", "-1", "", 0xFFFFFFFF},
      {"Timeout", "-2147483648", "", 0x80000000},
      {"Timeout", "2147483647", "", 0x7FFFFFFF},
      {"ForceTune", "255", "", 255},
      {"ForceTune", "-0", "", 0},
      {"BootFlag", "0XFFFFFFFF", "", 0xFFFFFFFF},
      {"Timeout", "abc", timeout, 0},
      {"Timeout", "12abc", timeout, 0},
      {"Timeout", "12 ", timeout, 0},
      {"Timeout", "2147483648", timeout, 0},
      {"Timeout", "--1", timeout, 0},
      {"DLPid", "12345678", pid, 0},
      {"DLPid", "1ffff", pid, 0},
      {"DLPid", "0x", pid, 0},
      {"DLPid", "-1", pid, 0},
      {"ForceTune", "-1", force, 0},
      {"ForceTune", "256", force, 0},
      {"ModChangeNO", "300", "NoOfModuleChanged: a decimal number from 0 to 255", 0},
      {"BootFlag", "123456789", flag, 0},
      {"BootFlag", "99999999999999999999", flag, 0},
      {"NS2_SwMinor", "g", "NewSelectors[2] SwMinor: a hexadecimal number from 0 to ffff", 0},
      {"Sat_Cmd", "HELLOWORLD1234", "Commands: at most 12 characters of one byte (Latin-1)", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Edit) + " = \"" + c.Text + "\"");
    Record out;
    out.fill(0x5A);
    const std::string refusal = PackRecord({{c.Edit, c.Text}}, Record{}.data(), out.data());
    EXPECT_EQ(refusal, c.Refusal);
    if (!refusal.empty()) {
      EXPECT_EQ(out, [] {
        Record r;
        r.fill(0x5A);
        return r;
      }()) << "a refused record leaves the caller's bytes alone";
      continue;
    }
    for (const DlCfgField& field : DlCfgFields()) {
      if (field.Field != std::string(c.Edit)) continue;
      std::uint32_t value = out[field.Offset];
      if (field.Width >= 2) value = GetLe16(out.data() + field.Offset);
      if (field.Width == 4) value = GetLe32(out.data() + field.Offset);
      EXPECT_EQ(value, c.Value);
    }
    EXPECT_TRUE(CrcHolds(out.data()));
  }

  // Only the fields of the layout that goes out are looked at.
  Record cable{};
  cable[88] = 2;
  Record out{};
  EXPECT_EQ(PackRecord({{"Cab_ModType", "256"}}, cable.data(), out.data()),
            "ModType: a decimal number from 0 to 255");
  EXPECT_EQ(PackRecord({{"Sat_Freq", "x"}}, cable.data(), out.data()), "");
}

TEST(DlCfgRecord, RecordBuiltBeforeAnyWasReceivedIsSatelliteWithReservedBytesSet) {
  const Record r = Pack({{"TunerPower", "FF"}, {"Cab_ModType", "9"}});
  for (int i = 0; i < DlCfgCrcOffset; ++i) {
    SCOPED_TRACE(i);
    const bool reserved = (i >= 25 && i <= 27) || (i >= 81 && i <= 83) || (i >= 89);
    EXPECT_EQ(r[i], reserved ? 0xFF : 0x00);
  }
  EXPECT_TRUE(CrcHolds(r.data()));
}

TEST(DlCfgRecord, LayoutComesFromTheStoredRecordNotFromTheTexts) {
  const DlCfgTexts texts = {
      {"DeliveryType", "1"},   {"Sat_Freq", "1"},     {"Sat_Symbol", "2"},    {"Cab_Freq", "11750"},
      {"Cab_Symbol", "27500"}, {"Cab_ModType", "64"}, {"Ter_Freq", "474000"}, {"Ter_Priority", "1"},
      {"Ter_BandWidth", "8"},  {"TunerPower", "a5"},
  };
  Record stored{};

  stored[88] = 2;
  Record r = Pack(texts, stored);
  EXPECT_EQ(GetLe32(r.data() + 60), 11750u);
  EXPECT_EQ(GetLe16(r.data() + 64), 27500);
  EXPECT_EQ(r[66], 64);
  for (int i = 67; i < 84; ++i) EXPECT_EQ(r[i], 0xFF) << i;
  EXPECT_EQ(r[88], 1) << "the delivery type byte is the text's";

  stored[88] = 3;
  r = Pack(texts, stored);
  EXPECT_EQ(GetLe32(r.data() + 60), 474000u);
  EXPECT_EQ(r[64], 1);
  EXPECT_EQ(r[65], 8);
  EXPECT_EQ(r[66], 0xA5);
  for (int i = 67; i < 84; ++i) EXPECT_EQ(r[i], 0xFF) << i;

  stored[88] = 9;
  r = Pack(texts, stored);
  EXPECT_EQ(GetLe32(r.data() + 60), 1u);
  EXPECT_EQ(GetLe16(r.data() + 64), 2);
}

TEST(DlCfgRecord, SatelliteCommandsShowUpToTwelveCharactersEndingAtZero) {
  Record r{};
  r[88] = 1;
  r[68] = 20;
  for (int i = 0; i < 12; ++i) r[69 + i] = static_cast<std::uint8_t>('A' + i);
  EXPECT_EQ(ShownText(r, "Sat_CmdLen"), "20");
  EXPECT_EQ(ShownText(r, "Sat_Cmd"), "ABCDEFGHIJKL");

  r[68] = 3;
  EXPECT_EQ(ShownText(r, "Sat_Cmd"), "ABC");

  r[68] = 12;
  r[69 + 5] = 0;
  EXPECT_EQ(ShownText(r, "Sat_Cmd"), "ABCDE");

  r[69] = 0xE9;
  EXPECT_EQ(ShownText(r, "Sat_Cmd"),
            "\xE9"
            "BCDE");
}

TEST(DlCfgRecord, TypedSatelliteCommandsGoOutAsCharactersPaddedWithZeros) {
  const Record received = SampleRecord(1);
  DlCfgTexts texts = TextsShownFor(received);

  texts["Sat_Cmd"] = "RUN";
  Record r = Pack(texts, received);
  const std::uint8_t run[12] = {'R', 'U', 'N'};
  EXPECT_TRUE(std::equal(run, run + 12, r.begin() + 69));

  texts["Sat_Cmd"] = "0123456789AB";
  r = Pack(texts, received);
  EXPECT_EQ(std::string(r.begin() + 69, r.begin() + 81), "0123456789AB");
  EXPECT_EQ(r[81], 0xFF);

  texts["Sat_Cmd"] = "";
  r = Pack(texts, received);
  for (int i = 69; i < 81; ++i) EXPECT_EQ(r[i], 0) << i;
  EXPECT_TRUE(CrcHolds(r.data()));
}

}  // namespace
