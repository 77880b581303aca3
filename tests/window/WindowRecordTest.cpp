#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dlcfg/DlCfgRecord.h"
#include "platform/SerialPort.h"
#include "window/DialogPresenters.h"
#include "window/WindowRecord.h"
#include "wire/LoaderCommands.h"
#include "wire/Words.h"

namespace {

// The rows as a store keeps them: a row put again replaces its columns, and its steps land at
// their places.
struct Store {
  std::vector<std::string> Order;
  std::map<std::string, BoxRecord> Rows;
  void Put(const BoxRecord& row) {
    auto [at, added] = Rows.try_emplace(row.Id, row);
    if (added) Order.push_back(row.Id);
    std::vector<StepRecord> steps = at->second.Steps;
    at->second = row;
    for (std::size_t k = 0; k < row.Steps.size(); ++k) {
      const auto place = static_cast<std::size_t>(row.StepPlace(k));
      if (steps.size() <= place) steps.resize(place + 1);
      steps[place] = row.Steps[k];
    }
    at->second.Steps = steps;
  }
};

struct Verdict {
  std::string Result;
  std::string Why;
  std::vector<std::string> Steps;  // "name: result (why)"
  std::string Label;
};

std::vector<Verdict> VerdictsOf(const Store& store) {
  std::vector<Verdict> verdicts;
  for (const std::string& id : store.Order) {
    const BoxRecord& row = store.Rows.at(id);
    Verdict v{row.Result, row.Why, {}, row.Label};
    for (const StepRecord& s : row.Steps)
      v.Steps.push_back(s.Name + ": " + s.Result + (s.Why.empty() ? "" : " (" + s.Why + ")"));
    verdicts.push_back(v);
  }
  return verdicts;
}

const LoaderCommand& Command(std::uint32_t word) {
  return *LoaderCommandOf(word);
}
EngineEvent Settled(std::uint32_t word, std::uint32_t reply) {
  return ev::CommandSettled{&Command(word), reply};
}

// What a technician does at the window, as the record sees it, and the rows it leaves: a box
// from the loader's answer on, its steps ended by their own answers, tried again, or cut off.
TEST(WindowRecord, BoxesAndTheirVerdictsFollowWhatWasDone) {
  using Act = std::function<void(WindowRecord&)>;
  const auto on = [](EngineEvent e) { return [e](WindowRecord& r) { r.On(e); }; };
  const auto begin = [](std::uint32_t word, const char* text) {
    return [word, text](WindowRecord& r) { r.Begin(Command(word), text); };
  };
  const Act answered = on(ev::LoaderAnswered{});
  const Act opened = on(ev::PortOpened{"/dev/ttyUSB0"});
  const Act closed = on(ev::PortClosed{true, true, ""});
  struct Case {
    const char* What;
    std::vector<Act> Acts;
    std::vector<Verdict> Rows;
    int Cleared = -1;  // times the label field is cleared; -1: once a box
  } cases[] = {
      {"a box on which nothing was done", {opened, answered, closed}, {}},
      {"an upload refused, then another image taken",
       {opened, answered, on(ev::UploadStarted{"/img/a.bin", 10}),
        on(ev::UploadEnded{ev::UploadOutcome::Refused, "/img/a.bin"}),
        on(ev::UploadStarted{"/img/b.bin", 10}), on(ev::BlockServed{0, 10, 10, 10}),
        on(ev::UploadEnded{ev::UploadOutcome::Accepted, "/img/b.bin"}), closed},
       {{"ok", "", {"upload a.bin: failed (Upload fail)", "upload b.bin: ok"}, ""}}},
      {"an upload pressed before the loader answered",
       {opened, on(ev::UploadStarted{"/img/c.bin", 10}), answered,
        on(ev::UploadEnded{ev::UploadOutcome::Accepted, "/img/c.bin"}), closed},
       {{"ok", "", {"upload c.bin: ok"}, ""}}},
      {"a failed erase, then another step that went well",
       {opened, answered, begin(Cmd::EraseFlash, "erase 0x0 0x1000"),
        on(Settled(Cmd::EraseFlash, Reply::EraseFail)), begin(Cmd::VerifyBoot, "verify-boot"),
        on(Settled(Cmd::VerifyBoot, Reply::VerifyBootOk)), closed},
       {{"failed",
         "erase 0x0 0x1000: ERASE fail",
         {"erase 0x0 0x1000: failed (ERASE fail)", "verify-boot: ok"},
         ""}}},
      {"run-app with no refusal before the time-out, and a command typed in the entry",
       {opened, answered, begin(Cmd::RunApp, "run-app"), on(ev::ReplyTimedOut{}),
        on(Settled(Cmd::VerifyApp, Reply::VerifyAppOk)), closed},
       {{"ok", "", {"run-app: ok", "verify-app: ok"}, ""}}},
      {"the port lost while a step waits",
       {opened, answered, begin(Cmd::VerifyApp, "verify-app"), on(ev::PortLost{"gone"})},
       {{"failed",
         "verify-app: the port was lost: gone",
         {"verify-app: failed (the port was lost: gone)"},
         ""}}},
      {"a reboot: the loader's next answer is another box",
       {opened, answered, begin(Cmd::RebootStb, "reboot"), answered,
        begin(Cmd::VerifyBoot, "verify-boot"), on(ev::ReplyTimedOut{}), closed},
       {{"ok", "", {"reboot: ok"}, ""},
        {"failed", "verify-boot: Timeout!!", {"verify-boot: failed (Timeout!!)"}, ""}}},
      {"a label typed during the box, cleared at its end",
       {opened, answered, begin(Cmd::VerifyBoot, "verify-boot"),
        [](WindowRecord& r) { r.SetLabel("5A17-004211"); },
        on(Settled(Cmd::VerifyBoot, Reply::VerifyBootOk)), closed, answered,
        begin(Cmd::VerifyBoot, "verify-boot"), on(Settled(Cmd::VerifyBoot, Reply::VerifyBootOk)),
        closed},
       {{"ok", "", {"verify-boot: ok"}, "5A17-004211"}, {"ok", "", {"verify-boot: ok"}, ""}}},
      {"the next box's label scanned while this one restarts",
       {opened, [](WindowRecord& r) { r.SetLabel("5A17-000001"); }, answered,
        begin(Cmd::VerifyBoot, "verify-boot"), on(Settled(Cmd::VerifyBoot, Reply::VerifyBootOk)),
        on(ev::AwaitingLoader{}), begin(Cmd::RebootStb, "reboot"),
        [](WindowRecord& r) { r.SetLabel("5A17-000002"); }, answered,
        begin(Cmd::VerifyBoot, "verify-boot"), on(Settled(Cmd::VerifyBoot, Reply::VerifyBootOk)),
        closed},
       {{"ok", "", {"verify-boot: ok", "reboot: ok"}, "5A17-000001"},
        {"ok", "", {"verify-boot: ok"}, "5A17-000002"}},
       1},
      {"the window closed while a step waits",
       {opened, answered, begin(Cmd::VerifyApp, "verify-app"),
        [](WindowRecord& r) { r.Closing(); }},
       {{"interrupted",
         "verify-app: the window was closed",
         {"verify-app: failed (the window was closed)"},
         ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Store store;
    int ended = 0;
    WindowRecord record({"bench", "id", 42, "start"}, [&](BoxRecord row) { store.Put(row); });
    record.BoxEnded = [&] { ++ended; };
    for (const Act& act : c.Acts) act(record);
    const std::vector<Verdict> rows = VerdictsOf(store);
    ASSERT_EQ(rows.size(), c.Rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].Result, c.Rows[i].Result) << i;
      EXPECT_EQ(rows[i].Why, c.Rows[i].Why) << i;
      EXPECT_EQ(rows[i].Steps, c.Rows[i].Steps) << i;
      EXPECT_EQ(rows[i].Label, c.Rows[i].Label) << i;
    }
    EXPECT_EQ(ended, c.Cleared < 0 ? static_cast<int>(c.Rows.size()) : c.Cleared)
        << "the label is let go once a box, unless the next box's was typed";
    for (const auto& [id, row] : store.Rows) {
      // The port as the system names it for good (its own rule, tested with the port).
      EXPECT_EQ(row.Port, SerialPort::LastingName("/dev/ttyUSB0"));
      EXPECT_EQ(row.Station, "bench");
      EXPECT_FALSE(row.Ended.empty());
      // A box that got an image names it, whenever its upload began.
      if (!row.Steps.empty() && row.Steps[0].Name.rfind("upload ", 0) == 0) {
        EXPECT_EQ(row.ImageSize, 10u) << row.Image;
      }
    }
  }
}

// The step of a record set names the fields whose texts changed, and no more; before the box
// sent a record, every field it carries.
TEST(WindowRecord, AConfigSetNamesTheFieldsThatChanged) {
  std::uint8_t before[DlCfgRecordSize] = {}, after[DlCfgRecordSize];
  before[DlCfgDeliveryTypeOffset] = 1;
  std::copy(before, before + DlCfgRecordSize, after);
  DlCfgTexts texts;
  for (const auto& [field, text] : ShownTexts(before)) texts[field] = text;
  texts["DeliveryType"] = "1";
  texts["Timeout"] = "1234";
  ASSERT_EQ(PackRecord(texts, before, after), "");
  EXPECT_EQ(ChangedFieldsStep(before, after), "config set Timeout=1234");
  EXPECT_EQ(ChangedFieldsStep(before, before), "config set");
  const std::string all = ChangedFieldsStep(nullptr, after);
  EXPECT_EQ(all.rfind("config set DeliveryType=1 ", 0), 0u) << all;
  EXPECT_NE(all.find(" Timeout=1234"), std::string::npos) << all;
}

}  // namespace
