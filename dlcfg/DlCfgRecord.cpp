#include "dlcfg/DlCfgRecord.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/NumberText.h"
#include "wire/Bytes.h"
#include "wire/Crc.h"

namespace {

using enum TextForm;
using enum DeliveryLayout;

constexpr int SatCmdLenOffset = 68;
constexpr int SatCmdOffset = 69;
constexpr int SatCmdWidth = 12;

constexpr DlCfgField Fields[] = {
    {"text_StructVer", 0, 2, Hex, Common},
    {"text_StructSize", 2, 2, Decimal, Common},
    {"text_BootFlag", 4, 4, Hex, Common},
    {"text_Timeout", 8, 4, Decimal, Common},
    {"text_DLType", 12, 1, Decimal, Common},
    {"text_ForceTune", 13, 1, Decimal, Common},
    {"text_DLPid", 14, 2, Hex, Common},
    {"text_OUI", 16, 4, Hex, Common},
    {"text_HardwareModel", 20, 2, Hex, Common},
    {"text_HardwareVersion", 22, 2, Hex, Common},
    {"text_ModChangeNO", 24, 1, Decimal, Common},
    {"text_NS0_MID", 28, 1, Decimal, Common},
    {"text_NS0_SwMajor", 29, 1, Hex, Common},
    {"text_NS0_SwMinor", 30, 2, Hex, Common},
    {"text_NS1_MID", 32, 1, Decimal, Common},
    {"text_NS1_SwMajor", 33, 1, Hex, Common},
    {"text_NS1_SwMinor", 34, 2, Hex, Common},
    {"text_NS2_MID", 36, 1, Decimal, Common},
    {"text_NS2_SwMajor", 37, 1, Hex, Common},
    {"text_NS2_SwMinor", 38, 2, Hex, Common},
    {"text_NS3_MID", 40, 1, Decimal, Common},
    {"text_NS3_SwMajor", 41, 1, Hex, Common},
    {"text_NS3_SwMinor", 42, 2, Hex, Common},
    {"text_MI0_MID", 44, 1, Decimal, Common},
    {"text_MI0_SwMajor", 45, 1, Hex, Common},
    {"text_MI0_SwMinor", 46, 2, Hex, Common},
    {"text_MI1_MID", 48, 1, Decimal, Common},
    {"text_MI1_SwMajor", 49, 1, Hex, Common},
    {"text_MI1_SwMinor", 50, 2, Hex, Common},
    {"text_MI2_MID", 52, 1, Decimal, Common},
    {"text_MI2_SwMajor", 53, 1, Hex, Common},
    {"text_MI2_SwMinor", 54, 2, Hex, Common},
    {"text_MI3_MID", 56, 1, Decimal, Common},
    {"text_MI3_SwMajor", 57, 1, Hex, Common},
    {"text_MI3_SwMinor", 58, 2, Hex, Common},
    {"text_Sat_Freq", 60, 4, Decimal, Satellite},
    {"text_Sat_Symbol", 64, 2, Decimal, Satellite},
    {"text_Sat_ParamFlag", 66, 2, Decimal, Satellite},
    {"text_Sat_CmdLen", SatCmdLenOffset, 1, Decimal, Satellite},
    {"text_Sat_Cmd", SatCmdOffset, SatCmdWidth, Chars, Satellite},
    {"text_Cab_Freq", 60, 4, Decimal, Cable},
    {"text_Cab_Symbol", 64, 2, Decimal, Cable},
    {"text_Cab_ModType", 66, 1, Decimal, Cable},
    {"text_Ter_Freq", 60, 4, Decimal, Terrestrial},
    {"text_Ter_Priority", 64, 1, Decimal, Terrestrial},
    {"text_Ter_BandWidth", 65, 1, Decimal, Terrestrial},
    {"text_TunerPower", 66, 1, Hex, Terrestrial},
    {"text_SignatureType", 84, 4, Decimal, Common},
    {"text_DeliveryType", DlCfgDeliveryTypeOffset, 1, Decimal, Common},
    {"text_Crc", DlCfgCrcOffset, 4, Hex, Common},
};

std::uint32_t FieldValue(const DlCfgField& field, const std::uint8_t* record) {
  const std::uint8_t* p = record + field.Offset;
  switch (field.Width) {
    case 1:
      return p[0];
    case 2:
      return GetLe16(p);
    default:
      return GetLe32(p);
  }
}

void PutFieldValue(const DlCfgField& field, std::uint8_t* record, std::uint32_t value) {
  std::uint8_t* p = record + field.Offset;
  switch (field.Width) {
    case 1:
      p[0] = static_cast<std::uint8_t>(value);
      break;
    case 2:
      PutLe16(p, static_cast<std::uint16_t>(value));
      break;
    default:
      PutLe32(p, value);
      break;
  }
}

// What the box put in Commands, as far as the command length says and up to the first zero.
std::string SatCommandText(const std::uint8_t* record) {
  const int n = std::min<int>(record[SatCmdLenOffset], SatCmdWidth);
  const auto* begin = record + SatCmdOffset;
  const auto* end = std::find(begin, begin + n, std::uint8_t{0});
  return std::string(begin, end);
}

void PackSatCommands(const std::string& text, const std::uint8_t* stored, std::uint8_t* out) {
  std::uint8_t* field = out + SatCmdOffset;
  // An untouched text cannot say what lay behind the zero or past the command length, so the
  // received bytes go back as they came.
  if (text == SatCommandText(stored)) {
    std::memcpy(field, stored + SatCmdOffset, SatCmdWidth);
    return;
  }
  std::memset(field, 0, SatCmdWidth);
  std::memcpy(field, text.data(), std::min<std::size_t>(text.size(), SatCmdWidth));
}

std::string TextOf(const DlCfgTexts& texts, const char* edit) {
  auto it = texts.find(edit);
  return it == texts.end() ? std::string() : it->second;
}

}  // namespace

std::span<const DlCfgField> DlCfgFields() {
  return Fields;
}

DeliveryLayout LayoutOfDeliveryType(std::uint8_t deliveryType) {
  if (deliveryType == 3) return Terrestrial;
  if (deliveryType == 2) return Cable;
  return Satellite;
}

std::string FieldText(const DlCfgField& field, const std::uint8_t* record) {
  if (field.Form == Chars) return SatCommandText(record);
  const std::uint32_t value = FieldValue(field, record);
  char text[16];
  if (field.Form == Hex)
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
  else if (field.Width == 4)
    std::snprintf(text, sizeof text, "%d", static_cast<int>(static_cast<std::int32_t>(value)));
  else
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(value));
  return text;
}

std::vector<std::pair<std::string, std::string>> ShownTexts(const std::uint8_t* record) {
  const DeliveryLayout layout = LayoutOfDeliveryType(record[DlCfgDeliveryTypeOffset]);
  std::vector<std::pair<std::string, std::string>> texts;
  for (const DlCfgField& field : Fields) {
    if (field.Offset == DlCfgDeliveryTypeOffset) continue;
    if (field.Layout != Common && field.Layout != layout) continue;
    texts.emplace_back(field.Edit, FieldText(field, record));
  }
  return texts;
}

void PackRecord(const DlCfgTexts& texts, const std::uint8_t* stored, std::uint8_t* out) {
  const DeliveryLayout layout = LayoutOfDeliveryType(stored[DlCfgDeliveryTypeOffset]);
  // Whatever no field covers is reserved and goes out as 0xFF.
  std::memset(out, 0xFF, DlCfgCrcOffset);
  for (const DlCfgField& field : Fields) {
    if (field.Offset == DlCfgCrcOffset) continue;
    if (field.Layout != Common && field.Layout != layout) continue;
    const std::string text = TextOf(texts, field.Edit);
    switch (field.Form) {
      case Chars:
        PackSatCommands(text, stored, out);
        break;
      case Hex:
        PutFieldValue(field, out, ReadHexText(text));
        break;
      case Decimal:
        PutFieldValue(field, out, static_cast<std::uint32_t>(ReadDecimalText(text)));
        break;
    }
  }
  PutLe32(out + DlCfgCrcOffset, CalcCrc(out, DlCfgCrcOffset));
}
