#pragma once

#include <cstdint>

// The words of the line, as 32-bit numbers whose most significant byte goes first: command
// words from the tool to the box, reply words from the box to the tool. The tool and the
// simulated box both take them from here.
namespace Cmd {
inline constexpr std::uint32_t GetDlCfg = 0xAA013201u;
inline constexpr std::uint32_t SetDlCfg = 0xAA023204u;
inline constexpr std::uint32_t EraseFlash = 0xAA04320Au;
inline constexpr std::uint32_t VerifyBoot = 0xAA063210u;
inline constexpr std::uint32_t VerifyApp = 0xAA073213u;
inline constexpr std::uint32_t TuneTest = 0xAA083216u;
inline constexpr std::uint32_t RebootStb = 0xAA093219u;
inline constexpr std::uint32_t SetDefaultDlCfg = 0xAA0B321Fu;
inline constexpr std::uint32_t LoaderVersion = 0xAA0C3222u;
inline constexpr std::uint32_t RunApp = 0xAA0D3225u;
inline constexpr std::uint32_t Upload = 0xAA0F322Bu;
inline constexpr std::uint32_t ReadFlash = 0xAA113231u;
inline constexpr std::uint32_t Sync = 0xAA25326Du;

// The second byte tells the commands apart.
constexpr std::uint8_t Number(std::uint32_t word) {
  return static_cast<std::uint8_t>(word >> 16);
}
}  // namespace Cmd

namespace Reply {
inline constexpr std::uint32_t SetDlCfgOk = 0xBB102196u;
inline constexpr std::uint32_t SetDlCfgFail = 0xBB112198u;
inline constexpr std::uint32_t EraseOk = 0xBB12219Au;
inline constexpr std::uint32_t EraseFail = 0xBB13219Cu;
inline constexpr std::uint32_t UploadAccepted = 0xBB14219Eu;
inline constexpr std::uint32_t UploadRefused = 0xBB1521A0u;
inline constexpr std::uint32_t VerifyBootOk = 0xBB1621A2u;
inline constexpr std::uint32_t VerifyBootFail = 0xBB1721A4u;
inline constexpr std::uint32_t VerifyAppOk = 0xBB1821A6u;
inline constexpr std::uint32_t VerifyAppFail = 0xBB1921A8u;
inline constexpr std::uint32_t TuneOk = 0xBB1A21AAu;
inline constexpr std::uint32_t TuneFail = 0xBB1B21ACu;
inline constexpr std::uint32_t Status1C = 0xBB1C21AEu;  // recognised, no message
inline constexpr std::uint32_t Status1D = 0xBB1D21B0u;  // recognised, no message
inline constexpr std::uint32_t SetDefaultOk = 0xBB1E21B2u;
inline constexpr std::uint32_t SetDefaultFail = 0xBB1F21B4u;
inline constexpr std::uint32_t RunAppFail = 0xBB2021B6u;
inline constexpr std::uint32_t Status21 = 0xBB2121B8u;  // recognised, no message
inline constexpr std::uint32_t DownloadRequest = 0xBB2221BAu;
inline constexpr std::uint32_t DlCfgRecord = 0xBB2321BCu;
inline constexpr std::uint32_t LoaderReady = 0xBB2421BEu;  // the sync word is to stop
inline constexpr std::uint32_t DownloadInfo = 0xBB2521C0u;
inline constexpr std::uint32_t LoaderVersion = 0xBB2621C2u;
inline constexpr std::uint32_t Status27 = 0xBB2721C4u;  // recognised, no message
inline constexpr std::uint32_t FlashData = 0xBB2821C6u;
inline constexpr std::uint32_t ReadFlashFail = 0xBB2921C8u;
}  // namespace Reply
