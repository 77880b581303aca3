#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

// The 100-byte download configuration record and the texts its edits show. Widget-free: the
// dialog copies these texts into and out of its edits by objectName.

constexpr int DlCfgRecordSize = 100;
constexpr int DlCfgCrcOffset = 96;
constexpr int DlCfgDeliveryTypeOffset = 88;

enum class TextForm {
  Hex,      // unsigned, lower case, no leading zeros
  Decimal,  // unsigned for 1 and 2 bytes, signed for 4
  Chars,    // the satellite Commands field: one byte per character
};

// Which delivery layout a field belongs to; the three layouts share bytes 60 to 83.
enum class DeliveryLayout { Common, Satellite, Cable, Terrestrial };

struct DlCfgField {
  const char* Edit;  // objectName of the edit that shows the field
  int Offset;
  int Width;
  TextForm Form;
  DeliveryLayout Layout;
};

// Every shown field, in offset order (the layouts' fields between 60 and 83, CRC last).
std::span<const DlCfgField> DlCfgFields();

// 3 terrestrial, 2 cable, anything else satellite.
DeliveryLayout LayoutOfDeliveryType(std::uint8_t deliveryType);

std::string FieldText(const DlCfgField& field, const std::uint8_t* record);

// The texts a received record puts into the edits, in the order they are set: the common
// fields in offset order, the fields of the record's own layout, signature type, CRC.
// The delivery type is left out: the dialog sets it first, before its radio selection.
std::vector<std::pair<std::string, std::string>> ShownTexts(const std::uint8_t* record);

// Edit objectName -> text; a missing edit reads as an empty text.
using DlCfgTexts = std::map<std::string, std::string>;

// Builds a whole record, CRC included. The layout comes from the stored record's delivery
// type; its Commands field also goes back unchanged while text_Sat_Cmd still shows it.
void PackRecord(const DlCfgTexts& texts, const std::uint8_t* stored, std::uint8_t* out);
