#include "service/ServiceRequests.h"

#include <algorithm>

#include "link/NumberText.h"
#include "wire/Bytes.h"
#include "wire/Crc.h"

namespace {

FlashRequest BuildTwoValueRequest(std::uint32_t word, std::uint32_t first, std::uint32_t second) {
  FlashRequest request{};
  PutCommandWord(request.data(), word);
  PutLe32(request.data() + 4, first);
  PutLe32(request.data() + 8, second);
  PutLe32(request.data() + 12, CalcCrc(request.data() + 4, 8));
  return request;
}

}  // namespace

TuneRequest BuildTuneRequest(std::uint32_t frequencyKHz, std::uint32_t bandwidth) {
  TuneRequest request{};
  PutCommandWord(request.data(), Cmd::TuneTest);
  PutLe32(request.data() + 4, frequencyKHz);
  request[8] = static_cast<std::uint8_t>(bandwidth);
  PutLe32(request.data() + 9, CalcCrc(request.data() + 4, 5));
  return request;
}

FlashRequest BuildEraseRequest(std::uint32_t start, std::uint32_t size) {
  return BuildTwoValueRequest(Cmd::EraseFlash, start, size);
}

FlashRequest BuildFlashReadRequest(std::uint32_t address, std::uint32_t length) {
  return BuildTwoValueRequest(Cmd::ReadFlash, address, length);
}

namespace {

constexpr std::int64_t Top = 0xFFFFFFFF;

// The size is a 32-bit field too, and the range may reach the last byte of the address space
// and no further.
NumberField SizeField(std::int64_t start) {
  return {"Size", 16, 1, std::min(Top, Top + 1 - start)};
}

}  // namespace

NumberField FlashStartField() {
  return {"Start Addr", 16, 0, Top};
}

bool ReadTuneTexts(const std::string& frequency, const std::string& bandwidth, TuneValues& values,
                   std::string& why) {
  const auto f = CheckNumberText({"Frequency", 10, 0, Top}, frequency, why);
  if (!f) return false;
  const auto b = CheckNumberText({"Bandwidth", 10, 0, 0xFF}, bandwidth, why);
  if (!b) return false;
  values = {static_cast<std::uint32_t>(*f), static_cast<std::uint32_t>(*b)};
  return true;
}

bool ReadFlashRangeTexts(const std::string& start, const std::string& size, FlashRange& range,
                         std::string& why) {
  const auto s = CheckNumberText(FlashStartField(), start, why);
  if (!s) return false;
  const auto n = CheckNumberText(SizeField(*s), size, why);
  if (!n) return false;
  range = {static_cast<std::uint32_t>(*s), static_cast<std::uint32_t>(*n)};
  return true;
}

std::string FlashRangeProblem(std::uint64_t start, std::uint64_t size) {
  if (start > Top) return AcceptedText(FlashStartField());
  const NumberField field = SizeField(static_cast<std::int64_t>(start));
  if (size == 0 || size > static_cast<std::uint64_t>(field.Max)) return AcceptedText(field);
  return {};
}
