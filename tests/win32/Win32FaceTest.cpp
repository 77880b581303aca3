// The Windows window, driven as a technician drives it: its controls clicked through window
// messages, its log read back. The cases that need a box run against the simulated box on the
// COM port named by KELVARIN_TEST_PORT (the Windows stage links one there); a file "power" or
// "off" written into the folder KELVARIN_TEST_BOX_CONTROL cycles the box's power or takes it
// away.
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it takes for granted.
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "production/RecordStore.h"
#include "production/Sha256.h"
#include "tests/dlcfg/RecordSamples.h"
#include "tests/support/CoreBench.h"
#include "tests/support/TempDir.h"
#include "win32/ControlIds.h"
#include "win32/MessageThread.h"
#include "win32/RecordDialog.h"
#include "win32/WideText.h"
#include "win32/Win32Controls.h"
#include "win32/Windows.h"
#include "window/DialogPresenters.h"
#include "window/WindowControls.h"
#include "window/WindowEffects.h"
#include "window/WindowRecord.h"
#include "window/WindowRules.h"

namespace {

using namespace std::chrono_literals;

// Runs the thread's messages, the protocol's routines among them, until done() holds.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

void PumpFor(std::chrono::milliseconds span) {
  const auto until = std::chrono::steady_clock::now() + span;
  PumpUntil([&] { return std::chrono::steady_clock::now() >= until; }, span + 1s);
}

class Win32Face : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("KELVARIN_TEST_PORT");
    PortName = port ? port : "";
    ::GetCurrentDirectoryW(MAX_PATH, StartedIn);
    // flashdata.bin is written in the folder the window works in.
    ::SetCurrentDirectoryW(WideOfUtf8(Work.Path()).c_str());
    PreviousHook = SetMessageBoxHook([this](const std::string& text) { Messages.push_back(text); });
    App = std::make_unique<Windows>(nullptr, Work.FilePath("config.cfg"));
  }
  void TearDown() override {
    App.reset();
    SetMessageBoxHook(PreviousHook);
    ::SetCurrentDirectoryW(StartedIn);
  }

  MainWindow& Main() { return App->form_main; }
  HWND Control(int id) { return ::GetDlgItem(Main().Handle(), id); }
  // A click as the button sends it; a disabled control takes none.
  void Click(DialogWindow& window, int id) {
    ASSERT_TRUE(::IsWindowEnabled(window.Item(id))) << "control " << id << " is disabled";
    ::SendMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(window.Item(id)));
  }
  void Click(int id) { Click(Main(), id); }
  std::wstring State() { return Main().StatusParts()[0]; }
  bool LogHas(const std::string& text) { return Main().LogText().find(text) != std::string::npos; }
  std::string Caption(int id) { return Utf8OfWide(Main().TextOf(id)); }

  bool NoBox() const { return PortName.empty(); }
  // Asks the stage to do something to the box; false when no stage listens.
  bool TellTheBox(const std::string& what) {
    const char* folder = std::getenv("KELVARIN_TEST_BOX_CONTROL");
    if (!folder) return false;
    const std::string file = std::string(folder) + "\\" + what;
    WriteFileBytes(file, {1});
    // The stage takes the file away once done.
    return PumpUntil(
        [&] { return ::GetFileAttributesW(WideOfUtf8(file).c_str()) == INVALID_FILE_ATTRIBUTES; },
        10s);
  }
  void Connect() {
    App->form_uart.SetText(IDC_Combo_port, WideOfUtf8(PortName));
    Click(IDC_tbtn_UartConnect);
    ASSERT_TRUE(PumpUntil([&] { return State() == L"Ready"; })) << Main().LogText();
  }
  std::string Image(const std::string& name, size_t size) {
    const std::string path = Work.FilePath(name);
    std::vector<std::uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    WriteFileBytes(path, bytes);
    return path;
  }
  void Upload(const std::string& path) {
    Main().PickImageFile = [path] { return std::optional<std::string>(path); };
    Click(IDC_btn_UpdateCode);
  }

  std::string PortName;
  TempDir Work;
  wchar_t StartedIn[MAX_PATH] = L"";
  MessageBoxHook PreviousHook;
  std::vector<std::string> Messages;
  std::unique_ptr<Windows> App;
};

TEST_F(Win32Face, ConnectsAsksTheLoaderAndUploads) {
  if (NoBox()) GTEST_SKIP() << "KELVARIN_TEST_PORT names no port with a box";
  // A port that is not there: said, and Setting stays the way to fix the name.
  App->form_uart.SetText(IDC_Combo_port, L"COM9");
  Click(IDC_tbtn_UartConnect);
  ASSERT_TRUE(PumpUntil([&] { return !Messages.empty(); }));
  EXPECT_EQ(Messages.front(), "Can't open COM9");
  EXPECT_TRUE(::IsWindowEnabled(Control(IDC_tbtn_Setting)));
  // The settings dialog is modal: the main window takes no input while it shows.
  bool mainWasOff = false;
  std::thread closer([&] {
    std::this_thread::sleep_for(500ms);
    mainWasOff = !::IsWindowEnabled(Main().Handle());
    ::PostMessageW(App->form_uart.Handle(), WM_CLOSE, 0, 0);
  });
  Click(IDC_tbtn_Setting);
  closer.join();
  EXPECT_TRUE(mainWasOff);
  EXPECT_TRUE(::IsWindowEnabled(Main().Handle()));
  EXPECT_FALSE(::IsWindowVisible(App->form_uart.Handle()));

  Connect();
  EXPECT_FALSE(::IsWindowEnabled(Control(IDC_tbtn_Setting)));
  EXPECT_TRUE(::IsWindowEnabled(Control(IDC_tbtn_UartDisconnect)));
  EXPECT_EQ(Main().StatusParts()[1].rfind(WideOfUtf8(PortName) + L" ", 0), 0u);
  // Service shows the loader's buttons.
  ::SendMessageW(Control(IDC_tbtn_Service), BM_CLICK, 0, 0);
  ASSERT_TRUE(::GetWindowLongPtrW(Control(IDC_btn_CmdLoadVer), GWL_STYLE) & WS_VISIBLE);
  Click(IDC_btn_CmdLoadVer);
  ASSERT_TRUE(PumpUntil([&] { return LogHas("5.6\n"); })) << Main().LogText();
  ASSERT_TRUE(PumpUntil([&] { return State() == L"Ready"; }));

  Upload(Image("small.bin", 5000));
  ASSERT_TRUE(PumpUntil([&] { return LogHas("Upload Complete"); })) << Main().LogText();
  EXPECT_EQ(Caption(IDC_btn_UpdateCode), UploadCaptionIdle);
  EXPECT_TRUE(Messages.size() == 1) << Messages.back();
}

TEST_F(Win32Face, StopAndDisconnectEndAnUploadMidway) {
  if (NoBox()) GTEST_SKIP() << "KELVARIN_TEST_PORT names no port with a box";
  Connect();
  const std::string big = Image("big.bin", 3 * 0x1FFFC + 1000);
  Upload(big);
  // The status bar follows it; the button is the way out.
  ASSERT_TRUE(PumpUntil([&] { return Main().ProgressPercent() >= 0; })) << Main().LogText();
  EXPECT_EQ(Caption(IDC_btn_UpdateCode), UploadCaptionBusy);
  EXPECT_EQ(State(), L"Busy");
  ASSERT_TRUE(PumpUntil([&] { return !Main().StatusParts()[3].empty(); }));
  Click(IDC_btn_UpdateCode);
  ASSERT_TRUE(PumpUntil([&] { return LogHas("Upload stopped"); })) << Main().LogText();
  EXPECT_EQ(Caption(IDC_btn_UpdateCode), UploadCaptionIdle);
  ASSERT_TRUE(PumpUntil([&] { return State() == L"Ready"; })) << Main().LogText();

  // A dropped image starts the next one; Disconnect ends it.
  EXPECT_FALSE(Main().DropFiles({big, big})) << "two files are no image";
  ASSERT_TRUE(Main().DropFiles({big}));
  ASSERT_TRUE(PumpUntil([&] { return Main().ProgressPercent() >= 0; }));
  Click(IDC_tbtn_UartDisconnect);
  ASSERT_TRUE(PumpUntil([&] { return State() == L"Offline"; }));
  EXPECT_TRUE(LogHas("RS232 Disconnect"));
  EXPECT_EQ(Main().ProgressPercent(), -1);
  EXPECT_TRUE(::IsWindowEnabled(Control(IDC_tbtn_UartConnect)));
  EXPECT_TRUE(::IsWindowEnabled(Control(IDC_tbtn_Setting)));
  EXPECT_FALSE(::IsWindowEnabled(Control(IDC_btn_UpdateCode)));
  EXPECT_FALSE(::IsWindowEnabled(Control(IDC_text_Cmd)));
  // The box still waits for the rest of its block.
  EXPECT_TRUE(TellTheBox("power"));
}

TEST_F(Win32Face, DownloadConfigGetsSetsAndRefusesAValueThatDoesNotFit) {
  if (NoBox()) GTEST_SKIP() << "KELVARIN_TEST_PORT names no port with a box";
  Connect();
  DlCfgDialog& config = App->form_DL_Config;
  Click(config, IDC_btn_GetDLCfg);
  ASSERT_TRUE(PumpUntil([&] { return !config.TextOf(IDC_text_StructSize).empty(); }))
      << Main().LogText();
  ASSERT_TRUE(PumpUntil([&] { return State() == L"Ready"; }));
  const std::wstring timeout = config.TextOf(IDC_text_Timeout);

  config.SetText(IDC_text_Timeout, L"99999999999");
  const auto commandsSent = [&] {
    const std::string log = Main().LogText();
    size_t count = 0;
    for (size_t at = log.find("Cmd >"); at != std::string::npos; at = log.find("Cmd >", at + 1))
      ++count;
    return count;
  };
  const size_t sentBefore = commandsSent();
  Click(config, IDC_btn_SetDLCfg);
  PumpFor(300ms);
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages.front().find("Timeout"), std::string::npos) << Messages.front();
  EXPECT_EQ(commandsSent(), sentBefore) << "nothing went to the box";

  config.SetText(IDC_text_Timeout, L"42");
  Click(config, IDC_btn_SetDLCfg);
  ASSERT_TRUE(PumpUntil([&] { return config.TextOf(IDC_Lab_DL_Cfg_Status) == L"Set DL CFG OK"; }))
      << Main().LogText();
  ASSERT_TRUE(PumpUntil([&] { return State() == L"Ready"; }));
  config.SetText(IDC_text_Timeout, L"");
  Click(config, IDC_btn_GetDLCfg);
  ASSERT_TRUE(PumpUntil([&] { return config.TextOf(IDC_text_Timeout) == L"42"; }));
  EXPECT_NE(timeout, L"");
}

// The Windows window keeps the record too: the label typed, the image with its digest, the
// configuration set; its Record view shows the box, its steps, and a box another station ends
// while it is open.
TEST_F(Win32Face, TheWindowRecordsItsBoxesAndItsRecordViewFollowsThem) {
  if (NoBox()) GTEST_SKIP() << "KELVARIN_TEST_PORT names no port with a box";
  const std::string file = Work.FilePath("record.sqlite");
  auto keeper = std::make_unique<WindowRecordKeeper>(file, "bench w", [](const std::string&) {});
  Main().AttachRecord(keeper.get());
  ::SetWindowTextW(Control(IDC_text_Label), L"5A17-W00001");
  Connect();
  const std::string image = Image("fw.bin", 20000);
  Upload(image);
  ASSERT_TRUE(PumpUntil([&] { return LogHas("Upload Complete"); })) << Main().LogText();
  ASSERT_TRUE(PumpUntil([&] { return State() == L"Ready"; }));
  DlCfgDialog& config = App->form_DL_Config;
  Click(config, IDC_btn_GetDLCfg);
  ASSERT_TRUE(PumpUntil([&] { return !config.TextOf(IDC_text_StructSize).empty(); }));
  ASSERT_TRUE(PumpUntil([&] { return State() == L"Ready"; }));
  // A value the box does not hold yet: the record names the field that changed.
  const std::wstring timeout = config.TextOf(IDC_text_Timeout) == L"42" ? L"43" : L"42";
  config.SetText(IDC_text_Timeout, timeout);
  Click(config, IDC_btn_SetDLCfg);
  ASSERT_TRUE(PumpUntil([&] { return config.TextOf(IDC_Lab_DL_Cfg_Status) == L"Set DL CFG OK"; }));
  Click(IDC_tbtn_UartDisconnect);
  EXPECT_EQ(Main().TextOf(IDC_text_Label), L"");
  keeper->Close();
  Main().AttachRecord(nullptr);
  keeper.reset();

  std::unique_ptr<RecordStore> store = SqliteRecord(file);
  std::string why;
  std::vector<BoxRecord> rows;
  ASSERT_TRUE(store->Open(why) && store->Rows({}, true, rows, why)) << why;
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Result, "ok") << rows[0].Why;
  EXPECT_EQ(rows[0].Label, "5A17-W00001");
  EXPECT_EQ(rows[0].Port, PortName);
  const std::vector<std::uint8_t> bytes = ReadFileBytes(image);
  Sha256 digest;
  digest.Add(bytes.data(), bytes.size());
  EXPECT_EQ(rows[0].ImageSha256, digest.HexDigest());
  std::vector<std::string> steps;
  for (const StepRecord& step : rows[0].Steps) steps.push_back(step.Name + ": " + step.Result);
  const std::string set = "config set Timeout=" + Utf8OfWide(timeout);
  EXPECT_EQ(steps, (std::vector<std::string>{"upload fw.bin: ok", "config get: ok", set + ": ok"}));

  RecordDialog view(Main().Handle(), file,
                    [this](std::function<void()> r) { Main().PostToWindow(std::move(r)); });
  view.Start();
  ASSERT_TRUE(PumpUntil([&] { return view.RowCount() == 1; }));
  EXPECT_EQ(view.Cell(0, 2), "5A17-W00001");
  view.Choose(0);
  ASSERT_TRUE(PumpUntil([&] { return view.StepsShown().find(set) != std::string::npos; }))
      << view.StepsShown();
  Recorder other(file, "", "line 2", [](const std::string&) {});
  other.Start();
  BoxRecord box;
  box.Id = "other/1";
  box.Station = "line 2";
  box.StationId = other.Self().Id;
  box.Port = "COM3";
  box.Label = "5A17-W00002";
  box.Started = box.Ended = UtcNow();
  box.Result = "failed";
  box.Why = "verify-app: Verify App fail";
  other.Put(box);
  other.Finish();
  ASSERT_TRUE(PumpUntil([&] { return view.RowCount() == 2; }, 10s));
  EXPECT_EQ(view.Cell(0, 2), "5A17-W00002");
  EXPECT_NE(view.SummaryShown().find("yield: 50.0%"), std::string::npos) << view.SummaryShown();
  view.Stop();
}

TEST_F(Win32Face, ReadsTheFlashBackIntoFlashdata) {
  if (NoBox()) GTEST_SKIP() << "KELVARIN_TEST_PORT names no port with a box";
  Connect();
  const std::string image = Image("small.bin", 0x3000);
  Upload(image);
  ASSERT_TRUE(PumpUntil([&] { return LogHas("Upload Complete"); })) << Main().LogText();
  ASSERT_TRUE(PumpUntil([&] { return State() == L"Ready"; }));

  FlashDialog& flash = App->Form_EraseFlash;
  flash.SetText(IDC_Edt_StartAddr, L"1000");
  flash.SetText(IDC_Edt_Offset, L"zz");
  Click(flash, IDC_Btn_ReadFlash);
  ASSERT_EQ(Messages.size(), 1u) << "a size that is no number is refused";
  flash.SetText(IDC_Edt_Offset, L"1800");
  Click(flash, IDC_Btn_ReadFlash);
  const std::string file = Work.FilePath("flashdata.bin");
  ASSERT_TRUE(PumpUntil([&] {
    return State() == L"Ready" && ReadFileBytes(file).size() == 0x1800;
  })) << Main().LogText();
  const std::vector<std::uint8_t> whole = ReadFileBytes(image);
  EXPECT_TRUE(ReadFileBytes(file) ==
              std::vector<std::uint8_t>(whole.begin() + 0x1000, whole.begin() + 0x2800));
  EXPECT_EQ(Messages.size(), 1u);
}

// What the window keeps of a flood: the last 100,000 lines, as the box sent them, saved as
// UTF-8 under a name beyond any one code page.
TEST_F(Win32Face, TheLogKeepsItsLastLinesAndSavesThemAsSent) {
  for (int i = 0; i < MaxLogLines + 5; ++i) Main().On(ev::BoxText{"line " + std::to_string(i)});
  Main().On(ev::BoxText{"caf\xE9"});
  const std::string log = Main().LogText();
  std::istringstream lines(log);
  std::string first;
  std::getline(lines, first);
  EXPECT_EQ(first, "line 6");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), MaxLogLines);
  EXPECT_TRUE(log.ends_with("line 100004\ncaf\xC3\xA9\n"));

  // Read further up, with a line selected: new lines and dropped ones leave both where they are.
  const HWND list = Control(IDC_Memo_Msg);
  const auto lineAt = [&](int index) {
    wchar_t text[64] = L"";
    LVITEMW item{};
    item.pszText = text;
    item.cchTextMax = 64;
    ::SendMessageW(list, LVM_GETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
    return std::wstring(text);
  };
  const auto selected = [&] {
    std::vector<std::wstring> lines;
    for (int at = ListView_GetNextItem(list, -1, LVNI_SELECTED); at >= 0;
         at = ListView_GetNextItem(list, at, LVNI_SELECTED))
      lines.push_back(lineAt(at));
    return lines;
  };
  // Two lines picked apart (a click and a ctrl+click), the view on the first.
  ListView_SetItemState(list, 50000 - 6, LVIS_SELECTED, LVIS_SELECTED);
  ListView_SetItemState(list, 60000 - 6, LVIS_SELECTED, LVIS_SELECTED);
  ListView_EnsureVisible(list, 50000 - 6, FALSE);
  const std::wstring top = lineAt(ListView_GetTopIndex(list));
  const std::vector<std::wstring> picked{L"line 50000", L"line 60000"};
  ASSERT_EQ(selected(), picked);
  // While lines are selected the oldest wait a while, then go all at once; the selection and
  // the view stay on their lines throughout.
  for (size_t i = 0; i < LogView::SelectionSlack + 10; ++i)
    Main().On(ev::BoxText{"more " + std::to_string(i)});
  Main().FlushLog();
  EXPECT_EQ(selected(), picked);
  EXPECT_EQ(lineAt(ListView_GetTopIndex(list)), top);
  EXPECT_TRUE(Main().LogText().starts_with("line 10016\n"));
  // Unselected and at the end again, it follows the newest line.
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
  ListView_EnsureVisible(list, MaxLogLines - 1, FALSE);
  Main().On(ev::BoxText{"newest"});
  Main().FlushLog();
  EXPECT_GE(ListView_GetTopIndex(list) + ListView_GetCountPerPage(list), MaxLogLines);
  EXPECT_TRUE(Main().LogText().ends_with("more 10009\nnewest\n"));
  // A line among those waiting is selected, then a batch makes the list shrink past it: the
  // selection goes with its lines, not with the list's end.
  ListView_SetItemState(list, MaxLogLines - 1, LVIS_SELECTED, LVIS_SELECTED);
  for (size_t i = 0; i < LogView::SelectionSlack; ++i)
    Main().On(ev::BoxText{"wait " + std::to_string(i)});
  Main().FlushLog();
  ListView_SetItemState(list, MaxLogLines + 5000, LVIS_SELECTED, LVIS_SELECTED);
  for (int i = 0; i < 20; ++i) Main().On(ev::BoxText{"shrink " + std::to_string(i)});
  Main().FlushLog();
  EXPECT_EQ(ListView_GetItemCount(list), MaxLogLines);
  EXPECT_EQ(selected(), (std::vector<std::wstring>{L"newest", L"wait 5000"}));
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED);

  const std::string saved = Work.FilePath("\xD0\x96urn\xC3\xA1l \xE2\x82\xAC.txt");
  Main().PickLogFile = [saved] { return std::optional<std::string>(saved); };
  ::SendMessageW(Main().Handle(), WM_COMMAND, MainWindow::CmdSaveLog, 0);
  const std::vector<std::uint8_t> bytes = ReadFileBytes(saved);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), Main().LogText());

  ::SendMessageW(Main().Handle(), WM_COMMAND, MainWindow::CmdClearLog, 0);
  ::SendMessageW(Main().Handle(), WM_COMMAND, MainWindow::CmdTimestamps, 0);
  Main().On(ev::BoxText{"stamped"});
  const std::string stamped = Main().LogText();
  ASSERT_EQ(stamped.size(), std::string("hh:mm:ss.zzz stamped\n").size()) << stamped;
  EXPECT_EQ(stamped[2], ':');
  EXPECT_EQ(stamped[8], '.');
  EXPECT_TRUE(Messages.empty());
}

// A record shown in the Windows dialog and packed again is the record the box sent, for every
// delivery type: every field's edit is found by its name and read back whole; the box of the
// type shows, the others hide with what they hold.
TEST_F(Win32Face, TheRecordDialogGivesBackTheRecordItShows) {
  DlCfgDialog& config = App->form_DL_Config;
  const auto visible = [&](int id) {
    return (::GetWindowLongPtrW(config.Item(id), GWL_STYLE) & WS_VISIBLE) != 0;
  };
  const struct {
    std::uint8_t Type;
    int Box;
    int HiddenEdit;
    bool Message;
  } cases[] = {{1, IDC_grpbox_sat, IDC_text_Cab_Freq, false},
               {2, IDC_grpbox_Cable, IDC_text_Sat_Freq, false},
               // Another item is chosen for it, whose check finds the type does not match.
               {9, IDC_grpbox_Ter, IDC_text_Sat_Cmd, true},
               // The same item again: nothing is chosen, nothing is checked.
               {3, IDC_grpbox_Ter, IDC_text_Cab_Freq, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Type));
    Messages.clear();
    const Record sent = SampleRecord(c.Type);
    config.ShowDLCfgRecord(sent.data());
    Record packed{};
    ASSERT_EQ(config.PackDLCfgRecord(packed.data()), "");
    EXPECT_TRUE(packed == sent);
    EXPECT_TRUE(visible(c.Box));
    EXPECT_FALSE(visible(c.HiddenEdit));
    EXPECT_EQ(Messages.size(), c.Message ? 1u : 0u);
  }
  // Every field has its edit in the form, and every control of the window's table is there.
  for (const DlCfgField& field : DlCfgFields())
    EXPECT_NE(ControlIdOf(FieldControl(field.Field).c_str()), 0) << field.Field;
  for (const WindowControl& control : WindowControls())
    EXPECT_NE(ControlIdOf(control.Name), 0) << control.Name;
  // A character beyond one byte fits no field: refused, and says which field.
  config.SetText(IDC_text_Timeout, L"\x0416");
  Record packed{};
  EXPECT_NE(config.PackDLCfgRecord(packed.data()).find("Timeout"), std::string::npos);
}

// The settings dialog reads config.cfg into its lists and gives the port request they show;
// OK writes them back as read.
TEST_F(Win32Face, TheSettingsDialogReadsAndWritesConfigCfg) {
  const struct {
    const char* Line;
    const char* Port;
    std::uint32_t Baud;
    int DataBits;
    Parity ParityMode;
    StopBits Stop;
  } cases[] = {
      {"COM5 9600 7 2 1", "COM5", 9600, 7, Parity::Odd, StopBits::Two},
      {"\\\\.\\COM12 115200 8 0 0", "\\\\.\\COM12", 115200, 8, Parity::None, StopBits::One},
      {"COM\xC3\xA9 57600 8 1 0", "COM\xC3\xA9", 57600, 8, Parity::Even, StopBits::One}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    const std::string file = Work.FilePath("config.cfg");
    WriteFileBytes(file, Bytes(c.Line, c.Line + std::strlen(c.Line)));
    UartDialog dialog(Main().Handle(), file);
    const PortRequest request = dialog.Request();
    EXPECT_EQ(request.Name, c.Port);
    EXPECT_EQ(request.BaudRate, c.Baud);
    EXPECT_EQ(request.DataBits, c.DataBits);
    EXPECT_EQ(request.ParityMode, c.ParityMode);
    EXPECT_EQ(request.Stop, c.Stop);
    ASSERT_EQ(dialog.SaveUartConfig(true), 0);
    const Bytes written = ReadFileBytes(file);
    EXPECT_EQ(std::string(written.begin(), written.end()).rfind(c.Line, 0), 0u);
  }
  // Cancel, and the close box, leave what Connect takes as the dialog showed it when it opened.
  for (const UINT close : {static_cast<UINT>(WM_COMMAND), static_cast<UINT>(WM_CLOSE)}) {
    UartDialog dialog(Main().Handle(), Work.FilePath("config.cfg"));
    const PortRequest before = dialog.Request();
    dialog.SetText(IDC_Combo_port, L"COM7");
    dialog.SetText(IDC_Combo_BaudRate, L"1200");
    if (close == WM_COMMAND)
      ::SendMessageW(dialog.Handle(), WM_COMMAND, IDC_btn_UartSetting_Cancel, 0);
    else
      ::SendMessageW(dialog.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(dialog.Request().Name, before.Name);
    EXPECT_EQ(dialog.Request().BaudRate, before.BaudRate);
  }
  // No file: the default is written, and a folder that cannot take it is said on OK.
  UartDialog fresh(Main().Handle(), Work.FilePath("new.cfg"));
  EXPECT_FALSE(ReadFileBytes(Work.FilePath("new.cfg")).empty());
  UartDialog nowhere(Main().Handle(), Work.FilePath("missing\\config.cfg"));
  ::SendMessageW(nowhere.Handle(), WM_COMMAND, IDC_btn_UartSetting_OK, 0);
  ASSERT_FALSE(Messages.empty());
  EXPECT_EQ(Messages.back().rfind("Can't write", 0), 0u);
}

TEST(Win32Text, ConversionsKeepEveryCharacter) {
  EXPECT_EQ(Utf8OfWide(WideOfUtf8("Jos\xC3\xA9 \xE2\x82\xAC \xD0\x96")),
            "Jos\xC3\xA9 \xE2\x82\xAC \xD0\x96");
  // The box's bytes, one character each, none lost.
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  EXPECT_EQ(WideOfLatin1(bytes).size(), 256u);
  EXPECT_EQ(ExactLatin1(WideOfLatin1(bytes)), bytes);
  EXPECT_EQ(ExactLatin1(L"\x0416"), std::nullopt);
  // Engine text: UTF-8 where it is, the box's bytes where it is not.
  EXPECT_EQ(WideOfEngineText("Jos\xC3\xA9"), L"Jos\x00E9");
  EXPECT_EQ(WideOfEngineText("caf\xE9"), L"caf\x00E9");
  EXPECT_EQ(WideOfEngineText(""), L"");
}

// Escape in the log, where a technician who has just copied a line may press it, leaves the
// window open (an edit control of a dialog would close it).
TEST_F(Win32Face, EscapeInTheLogLeavesTheWindowOpen) {
  const HWND main = Main().Handle();
  ::ShowWindow(main, SW_SHOW);
  ASSERT_TRUE(::IsWindowVisible(main));
  const HWND log = Control(IDC_Memo_Msg);
  ::SetFocus(log);
  for (const UINT key : {WM_KEYDOWN, WM_CHAR, WM_KEYUP}) {
    MSG message{log, key, VK_ESCAPE, 0, 0, {}};
    if (!::IsDialogMessageW(main, &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  PumpFor(200ms);
  EXPECT_TRUE(::IsWindowVisible(main));
}

// Workers' routines run on the window's thread in the order posted, however many wait (more
// than a message queue holds), and a dialog's loop runs them too.
TEST(Win32MessageThread, RunsEveryRoutineInOrderOnItsThreadAndInNestedLoops) {
  MessageThread thread;
  constexpr int Threads = 3;
  constexpr int Each = 8000;
  std::vector<std::vector<int>> seen(Threads);
  std::atomic<int> offThread{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < Threads; ++t)
    workers.emplace_back([&, t] {
      for (int i = 0; i < Each; ++i)
        thread.Post([&, t, i] {
          if (!thread.IsCurrent()) ++offThread;
          seen[t].push_back(i);
        });
    });
  for (std::thread& worker : workers) worker.join();
  ASSERT_TRUE(PumpUntil([&] {
    size_t total = 0;
    for (const auto& s : seen) total += s.size();
    return total == Threads * Each;
  }));
  EXPECT_EQ(offThread, 0);
  for (const auto& s : seen)
    for (int i = 0; i < Each; ++i) ASSERT_EQ(s[static_cast<size_t>(i)], i);

  // A routine that waits in a loop of its own, as a message box does, still sees later ones run.
  bool innerRan = false;
  bool outerSawIt = false;
  thread.Post([&] {
    std::thread([&] { thread.Post([&] { innerRan = true; }); }).join();
    outerSawIt = PumpUntil([&] { return innerRan; }, 5s);
  });
  ASSERT_TRUE(PumpUntil([&] { return innerRan; }));
  EXPECT_TRUE(outerSawIt);
}

// Last, as it takes the box away: the window says the port is gone and lets the technician
// start again.
TEST_F(Win32Face, ZTheBoxGoingAwayMidUploadIsSaid) {
  if (NoBox()) GTEST_SKIP() << "KELVARIN_TEST_PORT names no port with a box";
  if (!std::getenv("KELVARIN_TEST_BOX_CONTROL")) GTEST_SKIP() << "no stage can take the box away";
  Connect();
  Upload(Image("big.bin", 3 * 0x1FFFC + 1000));
  ASSERT_TRUE(PumpUntil([&] { return Main().ProgressPercent() >= 0; }));
  const std::string before = Main().LogText();
  ASSERT_TRUE(TellTheBox("off"));
  ASSERT_TRUE(
      PumpUntil([&] { return State() == L"Offline" || State() == L"Waiting for loader"; }, 60s))
      << Main().LogText();
  ASSERT_TRUE(PumpUntil([&] { return Caption(IDC_btn_UpdateCode) == UploadCaptionIdle; }));
  EXPECT_FALSE(::IsWindowEnabled(Control(IDC_text_Cmd)));
  EXPECT_GT(Main().LogText().size(), before.size());
  std::printf("after the box went away:\n%s\n", Main().LogText().substr(before.size()).c_str());
}

}  // namespace

namespace {
// The status bar and the progress bar are common controls: registered before any test.
const bool ControlsRegistered = [] {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS |
                                                     ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  return ::InitCommonControlsEx(&controls) != FALSE;
}();
}  // namespace
