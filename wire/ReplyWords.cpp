#include "wire/ReplyWords.h"

#include "wire/Words.h"

namespace {

constexpr int InfoFrameLen = 204;
constexpr int ShortFrameLen = 16;

// Every word is BB k 21 (96 + 2(k - 10)) for k = 10..29; the table is indexed by k - 0x10.
constexpr ReplyWordInfo ReplyWords[] = {
    {Reply::SetDlCfgOk, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::SetDlCfgFail, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::EraseOk, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::EraseFail, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::UploadAccepted, WordKind::UploadResult, 4, 0, 4, nullptr},
    {Reply::UploadRefused, WordKind::UploadResult, 4, 0, 4, nullptr},
    {Reply::VerifyBootOk, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::VerifyBootFail, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::VerifyAppOk, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::VerifyAppFail, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::TuneOk, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::TuneFail, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::Status1C, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::Status1D, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::SetDefaultOk, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::SetDefaultFail, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::RunAppFail, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::Status21, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::DownloadRequest, WordKind::Payload, ShortFrameLen, 2, 6, "Download Request CRC fail"},
    {Reply::DlCfgRecord, WordKind::Payload, InfoFrameLen, 96, 104, "Download Info CRC fail"},
    {Reply::LoaderReady, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::DownloadInfo, WordKind::Payload, InfoFrameLen, 96, 104, "Download Info CRC fail"},
    {Reply::LoaderVersion, WordKind::Payload, ShortFrameLen, 2, 6, "Get loader version fail"},
    {Reply::Status27, WordKind::Status, 4, 0, 0, nullptr},
    {Reply::FlashData, WordKind::FlashData, 0, 0, 0, "Read flash CRC fail"},
    {Reply::ReadFlashFail, WordKind::Status, 4, 0, 0, nullptr},
};
static_assert(sizeof ReplyWords / sizeof ReplyWords[0] == 26);

}  // namespace

const ReplyWordInfo* FindReplyWord(std::uint32_t word) {
  const std::uint32_t k = (word >> 16) & 0xFF;
  if (k < 0x10 || k > 0x29) return nullptr;
  const ReplyWordInfo& info = ReplyWords[k - 0x10];
  return info.Word == word ? &info : nullptr;
}

const char* ReplyCrcFailLine(std::uint32_t word) {
  const ReplyWordInfo* info = FindReplyWord(word);
  return info != nullptr ? info->FailLine : nullptr;
}
