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
    {"StructVer", "Struct Version", 0, 2, Hex, Common, Fixed},
    {"StructSize", "Struct Size", 2, 2, Decimal, Common, Fixed},
    {"BootFlag", "Boot Flag", 4, 4, Hex, Common, Editable},
    {"Timeout", "Timeout", 8, 4, Decimal, Common, Editable},
    {"DLType", "Download Type", 12, 1, Decimal, Common, Fixed},
    {"ForceTune", "Force Tune", 13, 1, Decimal, Common, Editable},
    {"DLPid", "Download Pid", 14, 2, Hex, Common, Editable},
    {"OUI", "OUI", 16, 4, Hex, Common, Fixed},
    {"HardwareModel", "Hardware Model", 20, 2, Hex, Common, Fixed},
    {"HardwareVersion", "Hardware Version", 22, 2, Hex, Common, Fixed},
    {"ModChangeNO", "NoOfModuleChanged", 24, 1, Decimal, Common, Editable},
    {"NS0_MID", "NewSelectors[0] MId", 28, 1, Decimal, Common, Editable},
    {"NS0_SwMajor", "NewSelectors[0] SwMajor", 29, 1, Hex, Common, Editable},
    {"NS0_SwMinor", "NewSelectors[0] SwMinor", 30, 2, Hex, Common, Editable},
    {"NS1_MID", "NewSelectors[1] MId", 32, 1, Decimal, Common, Editable},
    {"NS1_SwMajor", "NewSelectors[1] SwMajor", 33, 1, Hex, Common, Editable},
    {"NS1_SwMinor", "NewSelectors[1] SwMinor", 34, 2, Hex, Common, Editable},
    {"NS2_MID", "NewSelectors[2] MId", 36, 1, Decimal, Common, Editable},
    {"NS2_SwMajor", "NewSelectors[2] SwMajor", 37, 1, Hex, Common, Editable},
    {"NS2_SwMinor", "NewSelectors[2] SwMinor", 38, 2, Hex, Common, Editable},
    {"NS3_MID", "NewSelectors[3] MId", 40, 1, Decimal, Common, Editable},
    {"NS3_SwMajor", "NewSelectors[3] SwMajor", 41, 1, Hex, Common, Editable},
    {"NS3_SwMinor", "NewSelectors[3] SwMinor", 42, 2, Hex, Common, Editable},
    {"MI0_MID", "Module Info[0] MId", 44, 1, Decimal, Common, Fixed},
    {"MI0_SwMajor", "Module Info[0] SwMajor", 45, 1, Hex, Common, Fixed},
    {"MI0_SwMinor", "Module Info[0] SwMinor", 46, 2, Hex, Common, Fixed},
    {"MI1_MID", "Module Info[1] MId", 48, 1, Decimal, Common, Fixed},
    {"MI1_SwMajor", "Module Info[1] SwMajor", 49, 1, Hex, Common, Fixed},
    {"MI1_SwMinor", "Module Info[1] SwMinor", 50, 2, Hex, Common, Fixed},
    {"MI2_MID", "Module Info[2] MId", 52, 1, Decimal, Common, Fixed},
    {"MI2_SwMajor", "Module Info[2] SwMajor", 53, 1, Hex, Common, Fixed},
    {"MI2_SwMinor", "Module Info[2] SwMinor", 54, 2, Hex, Common, Fixed},
    {"MI3_MID", "Module Info[3] MId", 56, 1, Decimal, Common, Fixed},
    {"MI3_SwMajor", "Module Info[3] SwMajor", 57, 1, Hex, Common, Fixed},
    {"MI3_SwMinor", "Module Info[3] SwMinor", 58, 2, Hex, Common, Fixed},
    {"Sat_Freq", "Freq", 60, 4, Decimal, Satellite, Editable},
    {"Sat_Symbol", "SymbRate", 64, 2, Decimal, Satellite, Editable},
    {"Sat_ParamFlag", "ParamFlags", 66, 2, Decimal, Satellite, Editable},
    {"Sat_CmdLen", "CommandLen", SatCmdLenOffset, 1, Decimal, Satellite, Editable},
    {"Sat_Cmd", "Commands", SatCmdOffset, SatCmdWidth, Chars, Satellite, Editable},
    {"Cab_Freq", "Freq", 60, 4, Decimal, Cable, Editable},
    {"Cab_Symbol", "SymbRate", 64, 2, Decimal, Cable, Editable},
    {"Cab_ModType", "ModType", 66, 1, Decimal, Cable, Editable},
    {"Ter_Freq", "Freq", 60, 4, Decimal, Terrestrial, Editable},
    {"Ter_Priority", "Priority", 64, 1, Decimal, Terrestrial, Editable},
    {"Ter_BandWidth", "BandWidth", 65, 1, Decimal, Terrestrial, Editable},
    {"TunerPower", "Tuner Power", 66, 1, Hex, Terrestrial, Editable},
    {"SignatureType", "Signature Type", 84, 4, Decimal, Common, Fixed},
    {"DeliveryType", "Delivery Type", DlCfgDeliveryTypeOffset, 1, Decimal, Common, Fixed},
    {"Crc", "Crc", DlCfgCrcOffset, 4, Hex, Common, Fixed},
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

std::string TextOf(const DlCfgTexts& texts, const char* field) {
  auto it = texts.find(field);
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
    texts.emplace_back(field.Field, FieldText(field, record));
  }
  return texts;
}

namespace {

NumberField NumberFieldOf(const DlCfgField& field) {
  NumberField number;
  number.Name = field.Name;
  number.Base = field.Form == Hex ? 16 : 10;
  number.EmptyIsZero = true;
  const std::int64_t values = std::int64_t{1} << (8 * field.Width);
  // Four-byte decimal fields show as signed numbers, the others as unsigned ones.
  if (field.Form == Decimal && field.Width == 4) {
    number.Min = -values / 2;
    number.Max = values / 2 - 1;
  } else {
    number.Max = values - 1;
  }
  return number;
}

}  // namespace

std::string FieldAccepts(const DlCfgField& field) {
  if (field.Form == Chars)
    return std::string(field.Name) + ": at most " + std::to_string(field.Width) +
           " characters of one byte (Latin-1)";
  return AcceptedText(NumberFieldOf(field));
}

bool FieldTextFits(const DlCfgField& field, const std::string& text) {
  if (field.Form == Chars) return text.size() <= static_cast<std::size_t>(field.Width);
  std::string why;
  return CheckNumberText(NumberFieldOf(field), text, why).has_value();
}

std::string PackRecord(const DlCfgTexts& texts, const std::uint8_t* stored, std::uint8_t* out) {
  const DeliveryLayout layout = LayoutOfDeliveryType(stored[DlCfgDeliveryTypeOffset]);
  std::uint8_t record[DlCfgRecordSize];
  // Whatever no field covers is reserved and goes out as 0xFF.
  std::memset(record, 0xFF, DlCfgCrcOffset);
  for (const DlCfgField& field : Fields) {
    if (field.Offset == DlCfgCrcOffset) continue;
    if (field.Layout != Common && field.Layout != layout) continue;
    const std::string text = TextOf(texts, field.Field);
    if (field.Form == Chars) {
      if (!FieldTextFits(field, text)) return FieldAccepts(field);
      PackSatCommands(text, stored, record);
      continue;
    }
    std::string why;
    const std::optional<std::int64_t> value = CheckNumberText(NumberFieldOf(field), text, why);
    if (!value) return why;
    PutFieldValue(field, record, static_cast<std::uint32_t>(*value));
  }
  PutLe32(record + DlCfgCrcOffset, CalcCrc(record, DlCfgCrcOffset));
  std::memcpy(out, record, DlCfgRecordSize);
  return {};
}
