#pragma once

// What the simulated box's parts share inside boxsim/: its timings, the commands it knows and
// the words of its log. Not for use outside the box.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "boxsim/BoxSim.h"
#include "wire/Bytes.h"
#include "wire/Crc.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

namespace boxsim::parts {

// Console text is answered once the tool has been quiet this long; a command that stays
// incomplete this long is taken as text.
constexpr int kTextGapMs = 50;
constexpr int kPartialCommandMs = 1000;
// Sync words already on their way when the box answered are swallowed, not answered again.
constexpr int kSyncEchoMs = 250;

constexpr std::uint8_t kSyncNumber = Cmd::Number(Cmd::Sync);

// Each message the box knows: its command number, its whole length and what it asks for.
struct KnownCommand {
  std::uint8_t number;
  long length;
  BoxCommand command;
};
constexpr KnownCommand kKnownCommands[] = {
    {Cmd::Number(Cmd::GetDlCfg), 4, BoxCommand::GetConfig},
    {Cmd::Number(Cmd::SetDlCfg), 105, BoxCommand::SetConfig},  // word, record, trailing zero
    {Cmd::Number(Cmd::EraseFlash), 16, BoxCommand::Erase},
    {Cmd::Number(Cmd::VerifyBoot), 4, BoxCommand::VerifyBoot},
    {Cmd::Number(Cmd::VerifyApp), 4, BoxCommand::VerifyApp},
    {Cmd::Number(Cmd::TuneTest), 13, BoxCommand::Tune},
    {Cmd::Number(Cmd::RebootStb), 4, BoxCommand::Reboot},
    {Cmd::Number(Cmd::SetDefaultDlCfg), 4, BoxCommand::DefaultConfig},
    {Cmd::Number(Cmd::LoaderVersion), 4, BoxCommand::LoaderVersion},
    {Cmd::Number(Cmd::RunApp), 4, BoxCommand::RunApp},
    {Cmd::Number(Cmd::Upload), 12, BoxCommand::Upload},
    {Cmd::Number(Cmd::ReadFlash), 16, BoxCommand::ReadFlash},
    {kSyncNumber, 5, BoxCommand::Sync},
};

inline std::optional<KnownCommand> FindCommand(std::uint8_t n) {
  for (const KnownCommand& known : kKnownCommands)
    if (known.number == n) return known;
  // A command of one word that the loader's table has: its status words answer it.
  for (const LoaderCommand& row : LoaderCommands())
    if (row.OneWord && Cmd::Number(row.Word) == n) return KnownCommand{n, 4, BoxCommand::OtherWord};
  return std::nullopt;
}

// -1: not a command word, 0: too few bytes to tell, otherwise the message's length.
inline long CommandLength(const std::uint8_t* p, std::size_t avail) {
  if (avail < 2) return 0;
  const std::optional<KnownCommand> known = FindCommand(p[1]);
  if (!known) return -1;
  if (avail < 3) return 0;
  if (p[2] != 0x32) return -1;
  if (avail < 4) return 0;
  if (p[3] != static_cast<std::uint8_t>(3 * p[1] - 2)) return -1;
  return known->length;
}

inline bool CrcHolds(const std::uint8_t* data, std::uint32_t n) {
  return CalcCrc(data, n) == GetLe32(data + n);
}

inline std::string Printable(const std::string& text) {
  std::string out;
  char hex[8];
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

inline const char* FaultName(FaultKind kind) {
  switch (kind) {
    case FaultKind::BadCrc:
      return "bad crc";
    case FaultKind::DropByte:
      return "dropped byte";
    case FaultKind::FlipBit:
      return "flipped bit";
    case FaultKind::Duplicate:
      return "duplicate";
    case FaultKind::GarbageBefore:
      return "garbage";
    case FaultKind::PauseInside:
      return "pause";
    case FaultKind::Silence:
      return "silence";
  }
  return "fault";
}

inline std::string Format(const char* format, auto... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

}  // namespace boxsim::parts
