#include "link/EngineEvents.h"

#include <cstdio>

#include "wire/Bytes.h"
#include "wire/ReplyWords.h"

namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

const char* RefusalText(ev::Refusal what) {
  switch (what) {
    case ev::Refusal::NotConnected:
    case ev::Refusal::UploadNotConnected:
      return "Uart does not connected";
    case ev::Refusal::TooLong:
      return "Tx data length is longer than buffer";
    case ev::Refusal::TxQueueFull:
      return "Tx queue is full";
    case ev::Refusal::RxQueueFull:
      return "Rx queue is full";
    case ev::Refusal::WriteFailed:
      return "writeFile error";
    case ev::Refusal::ImageUnreadable:
      return "open file error";
    case ev::Refusal::BlockUnreadable:
      return "Request data length is not correspond to file point";
    case ev::Refusal::PartFileNotCreated:
      return "Can't create ";
    case ev::Refusal::PartFileNotWritten:
      return "Can't write ";
    case ev::Refusal::InputRefused:
      break;
  }
  return "";
}

void RenderUploadEnd(const ev::UploadEnded& e, EventText& out) {
  switch (e.Outcome) {
    case ev::UploadOutcome::Accepted:
    case ev::UploadOutcome::AcceptedIdle:
      out.Line("Upload Complete", false);
      return;
    case ev::UploadOutcome::AcceptedEarly:
      out.Line(e.Why, false);
      return;
    case ev::UploadOutcome::Refused:
      out.Line("Upload fail", false);
      return;
    case ev::UploadOutcome::Stopped:
      out.Line("Upload stopped", false);
      // The loader has no word for "stop": it goes on waiting for a block that will not come,
      // and takes the next upload's command for block data.
      if (!e.ImageOut) out.Line(UploadStoppedAdvice, false);
      return;
    case ev::UploadOutcome::ImageChanged:
      out.Line(e.Why + ": " + e.Image, true);
      return;
  }
}

void RenderReadEnd(const ev::FlashReadEnded& e, EventText& out) {
  const std::string leftUnchanged = "Read flash stopped: " + e.FileName + " left unchanged";
  switch (e.Outcome) {
    case ev::ReadOutcome::Complete:
      return;
    case ev::ReadOutcome::Failed:
      out.Line(leftUnchanged, true);
      return;
    case ev::ReadOutcome::NotWritten:
      out.Message("Can't write " + e.File);
      out.Line(leftUnchanged, true);
      return;
    case ev::ReadOutcome::Kept:
      out.Message("Can't write " + e.File);
      out.Line("Read flash complete, but " + e.File + " could not be written (" + e.Why +
                   "): the data is kept in " + e.KeptIn,
               true);
      return;
  }
}

}  // namespace

std::string EventText::BoxLineShown(const std::string& line) {
  std::string shown = line.substr(0, line.find('\0'));
  // The carriage return only ends the line; the log starts a new line by itself.
  if (!shown.empty() && shown.back() == '\r') shown.pop_back();
  return shown;
}

void RenderEvent(const EngineEvent& event, EventText& out) {
  std::visit(
      Overloaded{
          [&](const ev::PortOpened& e) {
            // The technician must see that ttyUSB0 is now another node, if only to tell two
            // stations apart.
            if (!e.FollowedTo.empty()) out.Line(e.Name + " came back as " + e.FollowedTo, true);
            out.Line("Com port set up ok", false);
          },
          [&](const ev::PortOpenFailed& e) {
            const std::string what = (e.SettingsRefused ? "Can't set " : "Can't open ") + e.Name;
            out.Line(what + ": " + e.Why, false);
            out.Message(what);
          },
          [&](const ev::PortLost& e) {
            out.Line(e.Why, false);
            if (e.DroppedMessages > 0)
              out.Line("Dropped " + std::to_string(e.DroppedMessages) +
                           (e.DroppedMessages == 1 ? " message" : " messages") +
                           " queued for the lost port: never sent",
                       false);
          },
          [&](const ev::PortClosed& e) {
            if (e.LineClosed) out.Line("RS232 Disconnect", false);
          },
          [&](const ev::CommandSent& e) {
            std::string line = CmdLogLine(e.Head.data(), static_cast<int>(e.Head.size()));
            if (e.Length > 0) line += " len = " + std::to_string(e.Length);
            out.Line(line, false);
          },
          [&](const ev::ReplyTimedOut&) { out.Message("Timeout!!"); },
          [&](const ev::LoaderAnswered&) { out.Line("Stop send sync byte", false); },
          [&](const ev::LoaderVersion& e) {
            out.Line(std::to_string(e.Major) + "." + std::to_string(e.Minor), false);
          },
          [&](const ev::CommandSettled& e) {
            if (!e.Command->InLog) return;
            if (const char* text = e.Ok() ? e.Command->OkText : e.Command->FailText)
              out.Line(text, false);
          },
          [&](const ev::UnexpectedAnswer& e) {
            // Every word that settles a row has its text there.
            out.Line(std::string("unexpected answer: ") +
                         (e.Word == e.Command->FailReply ? e.Command->FailText : e.Command->OkText),
                     false);
          },
          [&](const ev::BoxText& e) { out.Box(e.Line); },
          [&](const ev::ReplyCutShort&) { out.Line("Reply frame cut short", false); },
          [&](const ev::ReplyCrcFailed& e) {
            if (const char* line = ReplyCrcFailLine(e.Word)) out.Line(line, false);
          },
          [&](const ev::UploadStarted& e) {
            out.Line("upload " + e.Image + " to STB start...", true);
          },
          [&](const ev::BlockServed& e) {
            if (e.ImageSize == 0) return;
            char text[32];
            std::snprintf(text, sizeof text, "Download %d%%",
                          static_cast<int>(e.Through * 100 / e.ImageSize));
            out.Line(text, false);
          },
          [&](const ev::RequestIgnored& e) {
            switch (e.Why) {
              case ev::RequestIgnored::Reason::NoImage:
                out.Line("Download request ignored: no upload file open", false);
                return;
              case ev::RequestIgnored::Reason::PastEnd:
                out.Line("Request data is longer than file size", false);
                return;
              case ev::RequestIgnored::Reason::StillBeingSent:
                out.Line("Download request for block " + std::to_string(e.Block) +
                             " ignored: its block is still being sent",
                         false);
                return;
            }
          },
          [&](const ev::UploadEnded& e) { RenderUploadEnd(e, out); },
          [&](const ev::FlashReadAsks& e) { out.Line(std::to_string(e.BytesLeft), false); },
          [&](const ev::FlashBlockChecked&) { out.Line("Read flash CRC OK", false); },
          [&](const ev::FlashReadRefused&) { out.Line("Read flash fail", false); },
          [&](const ev::FlashReadEnded& e) { RenderReadEnd(e, out); },
          [&](const ev::Refused& e) {
            if (e.What == ev::Refusal::InputRefused)
              out.Message(e.Detail);
            else if (e.What == ev::Refusal::PartFileNotCreated ||
                     e.What == ev::Refusal::PartFileNotWritten)
              out.Message(RefusalText(e.What) + e.Detail);
            else
              out.Message(RefusalText(e.What));
          },
          [&](const auto&) {},
      },
      event);
}
