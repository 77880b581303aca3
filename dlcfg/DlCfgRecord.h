#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

// The 100-byte download configuration record and its fields' texts, by the fields' own names
// (Timeout, DLPid, ...). Widget-free: the window's dialog and the command line copy texts.

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

// Whether a technician may change a field: the dialog enables its edit and `config set` takes
// it. The others (sizes, identities, the CRC, the installed modules) are the box's to say.
enum FieldUse { Fixed, Editable };

struct DlCfgField {
  const char* Field;  // the field's own name: StructVer, Timeout, DLPid, Sat_Freq, ...
  const char* Name;   // as the dialog's labels name it
  int Offset;
  int Width;
  TextForm Form;
  DeliveryLayout Layout;
  FieldUse Use;
};

// Every shown field, in offset order (the layouts' fields between 60 and 83, CRC last).
std::span<const DlCfgField> DlCfgFields();

// 3 terrestrial, 2 cable, anything else satellite.
DeliveryLayout LayoutOfDeliveryType(std::uint8_t deliveryType);

std::string FieldText(const DlCfgField& field, const std::uint8_t* record);

// The texts of a received record's fields by their names, in the order a dialog sets them: the
// common fields in offset order, the fields of the record's own layout, signature type, CRC.
// The delivery type is left out: the dialog sets it first, before its radio selection.
std::vector<std::pair<std::string, std::string>> ShownTexts(const std::uint8_t* record);

// What a field takes, in the words a refusal shows: "ModType: a decimal number from 0 to 255",
// "Commands: at most 12 characters of one byte (Latin-1)". Every text FieldText gives fits,
// and so does an empty one (0, or no characters).
std::string FieldAccepts(const DlCfgField& field);
// Whether a typed text (Latin-1) fits the field: a number read whole within the field's
// width, or characters no more than its bytes.
bool FieldTextFits(const DlCfgField& field, const std::string& text);

// A field's name -> its text; a missing field reads as an empty text.
using DlCfgTexts = std::map<std::string, std::string>;

// Builds a whole record, CRC included. The layout comes from the stored record's delivery
// type; its Commands field also goes back unchanged while Sat_Cmd's text is still as received. A
// text of that layout that does not fit its field builds nothing: the result is FieldAccepts of the
// first such field, empty once the record is built.
std::string PackRecord(const DlCfgTexts& texts, const std::uint8_t* stored, std::uint8_t* out);
