#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "boxsim/BoxFrames.h"

// Runs a fuzz entry without libFuzzer, so any compiler's build can exercise it:
// <driver> [count [seed]]. Inputs mix raw bytes with pieces of the real protocol, so
// that frames, near-frames and damaged frames all turn up.

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Bytes = std::vector<std::uint8_t>;

// Frames built the way the simulated box builds them, with random payloads.
void AppendWord(Bytes& out, std::uint32_t word) {
  const Bytes frame = boxsim::StatusFrame(word);
  out.insert(out.end(), frame.begin(), frame.end());
}

void AppendPayloadFrame(Bytes& out, std::uint32_t word, std::size_t payloadLen, std::mt19937& rng) {
  Bytes payload(payloadLen);
  for (auto& b : payload) b = static_cast<std::uint8_t>(rng());
  const Bytes frame = boxsim::PayloadFrame(word, payload);
  out.insert(out.end(), frame.begin(), frame.end());
}

std::uint32_t AnyReplyWord(std::mt19937& rng) {
  // A few beyond the table on either side.
  return boxsim::ReplyWord(static_cast<std::uint8_t>(0x0E + rng() % 30));
}

Bytes MakeInput(std::mt19937& rng) {
  Bytes input{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng())};
  // Mostly short inputs, so that millions run in minutes; now and then a long one.
  const std::size_t target = rng() % 50 == 0 ? rng() % 20000 : rng() % 300;
  static const char hexDigits[] = "0123456789ABCDEFabcdefGZ";
  while (input.size() < target) {
    switch (rng() % 10) {
      case 0:
        input.push_back(static_cast<std::uint8_t>(rng()));
        break;
      case 1:
        input.push_back(0x0D);
        break;
      case 2:
        input.push_back(0xBB);
        break;
      case 3:
        input.push_back(static_cast<std::uint8_t>(hexDigits[rng() % 24]));
        break;
      case 4:
        AppendWord(input, AnyReplyWord(rng));
        break;
      case 5:
        AppendPayloadFrame(input, 0xBB2621C2, 2, rng);
        break;
      case 6:
        AppendPayloadFrame(input, rng() % 2 ? 0xBB2321BC : 0xBB2521C0, 96, rng);
        break;
      case 7: {
        // Matches the flash block length that rx_fuzz picks from the first byte when small.
        static const std::size_t flashLengths[] = {0, 1, 2, 7, 100};
        const std::size_t pick = input[0] % 10;
        AppendPayloadFrame(input, 0xBB2821C6, pick < 5 ? flashLengths[pick] : 7, rng);
        break;
      }
      case 8:
        AppendPayloadFrame(input, 0xBB2221BA, 2, rng);  // a download request
        break;
      default: {
        // A frame damaged in one place.
        Bytes frame;
        AppendPayloadFrame(frame, 0xBB2221BA, 2, rng);
        frame[rng() % frame.size()] = static_cast<std::uint8_t>(rng());
        input.insert(input.end(), frame.begin(), frame.end());
      }
    }
  }
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000;
  const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1;
  std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
  long done = 0;
  for (; done < count; ++done) {
    const Bytes input = MakeInput(rng);
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("inputs: %ld\n", done);
  return 0;
}
