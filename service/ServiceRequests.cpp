#include "service/ServiceRequests.h"

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
