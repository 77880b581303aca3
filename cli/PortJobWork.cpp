#include <algorithm>
#include <cstdio>
#include <random>
#include <system_error>

#include "cli/Latin1.h"
#include "cli/PortJob.h"
#include "cli/PortJobParts.h"
#include "cli/PortList.h"
#include "cli/ReadTarget.h"
#include "dlcfg/DlCfgRecord.h"
#include "platform/Files.h"
#include "platform/Station.h"
#include "service/FlashReadback.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

// The work of a step: the command sent, its progress, the record read or set, a read kept.

using namespace portjob;
using std::chrono::duration;
using std::chrono::milliseconds;

namespace {

// Progress is shown at least this often while bytes move, and whenever a block is through.
constexpr milliseconds ProgressEvery{500};

// The size of the pieces the work's bytes move in: a block of the upload or of the read.
std::uint64_t BlockBytes(Command c) {
  return c == Command::Upload ? CodeUpload::BlockSize : FlashReadback::BlockMax;
}

// Where a verify's read-back differs from the image: the first offset and how many bytes.
// False when either cannot be read whole.
bool Compare(const std::filesystem::path& readBack, const UploadImage& image, std::uint64_t& first,
             std::uint64_t& differing) {
  std::FILE* flash = OpenFile(SystemName(readBack), "rb");
  if (flash == nullptr) return false;
  differing = 0;
  std::vector<std::uint8_t> a(64 * 1024), b(a.size());
  bool whole = true;
  for (std::uint64_t at = 0; at < image.Stamp.Size && whole;) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(a.size(), image.Stamp.Size - at));
    whole = std::fread(a.data(), 1, n, flash) == n && ReadAt(image.File.get(), at, b.data(), n);
    for (std::size_t i = 0; whole && i < n; ++i) {
      if (a[i] == b[i]) continue;
      if (differing++ == 0) first = at + i;
    }
    at += n;
  }
  std::fclose(flash);
  return whole;
}

}  // namespace

void PortJob::StartStep() {
  ++StepSerial;
  StepStart = Now;
  Written = false;
  WriteNumber = 0;
  Bytes = 0;
  Total = 0;
  ShownBytes = 0;
  ShownAt = Now;
  WorkStart = Now;
  WorkEnded = false;
  Answered = false;
  AnsweredAt = Now;
  if (Step().Cmd == Command::Read)
    ReadName = Options.Repeat ? BoxFileName(ReadBase, BoxNumber) : ReadBase;
  Enter(JobState::Working);
  ++InEngineCall;
  bool sent = true;
  switch (Step().Cmd) {
    case Command::Upload:
      Total = Image()->Stamp.Size;
      sent = Engine->StartUpload(Image(), Step().Image);
      break;
    case Command::Version:
      sent = Engine->LoaderVersion();
      break;
    case Command::LoaderWord:
      sent = Engine->SendLoaderCommand(Step().Loader->Word);
      break;
    case Command::RunApp:
      sent = Engine->SendLoaderCommand(Cmd::RunApp);
      WriteNumber = Engine->LastQueued();
      break;
    case Command::Reboot:
      sent = Engine->RebootStb();
      WriteNumber = Engine->LastQueued();
      break;
    case Command::Send:
      sent = Engine->SendCmd(reinterpret_cast<const std::uint8_t*>(Step().Text.data()),
                             static_cast<int>(Step().Text.size()));
      WriteNumber = Engine->LastQueued();
      break;
    case Command::ConfigGet:
      sent = Engine->GetDlCfg();
      break;
    case Command::ConfigSet:
      WantRecordForSet = true;
      sent = Engine->GetDlCfg();
      break;
    case Command::ConfigDefault:
      sent = Engine->SetDefaultDlCfg();
      break;
    case Command::Tune:
      Engine->TuneTest(Step().FrequencyKHz, Step().Bandwidth);
      break;
    case Command::Erase:
      sent = Engine->EraseFlash(Step().Start, Step().Size);
      break;
    case Command::Read:
    case Command::Verify: {
      Total = Step().Cmd == Command::Read ? Step().Size : Image()->Stamp.Size;
      std::error_code error;
      std::filesystem::create_directory(ReadFolder, error);
      if (error) {
        --InEngineCall;
        FinishBox(ExitStatus::Usage, "Can't write " +
                                         (ReadName.empty() ? SystemName(ReadFolder) : ReadName) +
                                         ": " + error.message());
        return;
      }
      sent = Engine->ReadFlash(Step().Start, static_cast<std::uint32_t>(Total));
      break;
    }
    case Command::Label:
      Box.Label.clear();
      if (Labels == nullptr) {
        Raise(Settled(ExitStatus::Ok));
        break;
      }
      Labels->Ask(this, Request.Name, BoxNumber,
                  [this, step = StepSerial](const std::string& label) { LabelGiven(step, label); });
      break;
    case Command::Ports:
    case Command::Help:
    case Command::Monitor:
    case Command::Job:
    case Command::Record:
      break;
  }
  --InEngineCall;
  if (!sent) Raise(Settled(ExitStatus::LinkFailed, LastMessage));
}

void PortJob::TrackProgress() {
  std::uint64_t done = 0;
  if (Step().Cmd == Command::Upload) {
    done = Engine->UploadBytesSent();
  } else {
    const Core::WorkProgress p = Engine->Progress();
    if (p.What != Core::WorkProgress::Job::FlashRead || p.Total == 0) return;
    Total = p.Total;
    done = p.Done;
  }
  // Bytes moving are the command's own answer going on: a long block on a slow line is no
  // time-out.
  if (done > Bytes) {
    Bytes = done;
    AnsweredAt = Now;
  }
}

void PortJob::ShowProgress() {
  if (Bytes == ShownBytes || Total == 0) return;
  const std::uint64_t block = BlockBytes(Step().Cmd);
  const bool blockThrough = Bytes / block != ShownBytes / block || Bytes == Total;
  if (!blockThrough && Now - ShownAt < ProgressEvery) return;
  ShownBytes = Bytes;
  ShownAt = Now;
  Out.ProgressMade(View());
}

void PortJob::RecordArrived(const std::vector<std::uint8_t>& record) {
  const DeliveryLayout layout = LayoutOfDeliveryType(record[DlCfgDeliveryTypeOffset]);
  std::vector<std::pair<std::string, std::string>> fields;
  DlCfgTexts texts;
  for (const DlCfgField& field : DlCfgFields()) {
    if (field.Layout != DeliveryLayout::Common && field.Layout != layout) continue;
    const std::string text = FieldText(field, record.data());
    fields.emplace_back(field.Field, text);
    texts[field.Field] = text;
  }
  // What the box says of itself goes into its record.
  Box.HardwareModel = Latin1ToUtf8(texts["HardwareModel"]);
  Box.HardwareVersion = Latin1ToUtf8(texts["HardwareVersion"]);
  Box.Oui = Latin1ToUtf8(texts["OUI"]);
  if (Step().Cmd == Command::ConfigGet && !Step().Field.empty()) {
    const auto field = std::find_if(fields.begin(), fields.end(),
                                    [&](const auto& f) { return f.first == Step().Field; });
    if (field == fields.end()) {
      FinishBox(ExitStatus::Usage, Step().Field + " is not a field of this box's delivery type");
      return;
    }
    Answered = true;
    Out.Answer(View(), "field", {*field});
    FinishBox(ExitStatus::Ok, "");
    return;
  }
  if (Step().Cmd == Command::ConfigGet) {
    Answered = true;
    Out.Answer(View(), "config", fields);
    FinishBox(ExitStatus::Ok, "");
    return;
  }
  if (Step().Cmd != Command::ConfigSet || !WantRecordForSet) return;
  WantRecordForSet = false;
  AnsweredAt = Now;
  for (const auto& [name, text] : Step().Changes) {
    if (texts.find(name) == texts.end()) {
      FinishBox(ExitStatus::Usage, name + " is not a field of this box's delivery type");
      return;
    }
    texts[name] = text;
  }
  std::uint8_t packed[DlCfgRecordSize];
  const std::string problem = PackRecord(texts, record.data(), packed);
  if (!problem.empty()) {
    FinishBox(ExitStatus::Usage, problem);
    return;
  }
  ++InEngineCall;
  Engine->SetDlCfg(packed);
  --InEngineCall;
}

void PortJob::LabelGiven(std::uint64_t step, const std::string& label) {
  if (State != JobState::Working || step != StepSerial) return;
  Box.Label = label;
  Out.LogLine(View(), label.empty() ? "no label" : "label " + label, true);
  Raise(Settled(ExitStatus::Ok));
}

void PortJob::EndOfRead(const std::filesystem::path& read) {
  if (read.empty()) {
    FinishBox(ExitStatus::BoxFailed, "Read flash fail");
    return;
  }
  if (Step().Cmd == Command::Verify) {
    EndOfVerify(read);
    return;
  }
  // Written through a link to the file it leads to, as writing to the name would.
  const std::string file = FileBehindLinks(ReadName);
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(SystemPath(file), error);
  std::string why;
  if (file.empty())
    why = "a link that leads nowhere";
  else if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    why = "not a regular file";
  else
    MoveOnto(SystemName(read), file, why);
  Bytes = Total;
  if (!why.empty()) {
    // Every block arrived and passed its check: the bytes are kept, whatever the name refuses;
    // where no name beside it takes them, under a name of their own in the read folder, which
    // then stays (and which the station's next box does not write over).
    std::string kept = KeepBeside(SystemName(read), file.empty() ? ReadName : file);
    if (kept == SystemName(read)) kept = KeepBeside(kept, SystemName(ReadFolder / "flashdata.bin"));
    if (SystemPath(kept).parent_path() == ReadFolder) KeptInReadFolder = true;
    FinishBox(ExitStatus::NotWritten,
              "Can't write " + ReadName + " (" + why + "): the read is kept in " + kept);
    return;
  }
  Out.LogLine(View(), "Read written to " + ReadName, true);
  FinishBox(ExitStatus::Ok, "");
}

void PortJob::EndOfVerify(const std::filesystem::path& read) {
  std::uint64_t first = 0;
  std::uint64_t differing = 0;
  if (!Compare(read, *Image(), first, differing)) {
    FinishBox(ExitStatus::Usage, "can no longer read " + Step().Image);
    return;
  }
  Bytes = Total;
  Answered = true;
  Out.Verified(View(), first, differing, Step().Start);
  if (differing == 0)
    FinishBox(ExitStatus::Ok, "");
  else
    FinishBox(ExitStatus::BoxFailed, "the flash differs from " + Step().Image);
}

void PortJob::DiscardReadFolder() {
  if (ReadFolder.empty()) return;
  std::error_code error;
  if (!KeptInReadFolder) {
    std::filesystem::remove_all(ReadFolder, error);
    return;
  }
  // A complete read that no other name would take is in there.
  for (const char* name : {"flashdata.bin", "flashdata.bin.part"})
    std::filesystem::remove(ReadFolder / name, error);
}
