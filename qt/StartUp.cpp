#include "qt/StartUp.h"

#include <QIcon>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

// Qt's own options, which QApplication takes off the command line itself; a dash more in
// front is fine with Qt too.
constexpr std::string_view QtOptionsWithValue[] = {
    "platform",    "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "style",  "stylesheet",
    "display",     "geometry",           "title",         "name"};
constexpr std::string_view QtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

bool Among(std::string_view name, const auto& list) {
  for (std::string_view known : list)
    if (name == known) return true;
  return false;
}

// "-style" and "--style" both read as "style"; not an option: "".
std::string_view QtOptionName(std::string_view arg) {
  if (arg.size() < 2 || arg[0] != '-') return {};
  arg.remove_prefix(arg[1] == '-' ? 2 : 1);
  return arg.substr(0, arg.find('='));
}

}  // namespace

StartRequest ReadStartArguments(int argc, const char* const* argv) {
  StartRequest request;
  auto bad = [&](std::string problem) {
    request.What = StartRequest::Action::Bad;
    request.Problem = std::move(problem);
    return request;
  };
  const std::vector<std::string> args(argv, argv + argc);
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      request.What = StartRequest::Action::Help;
      return request;
    }
    if (arg == "--version") {
      request.What = StartRequest::Action::Version;
      return request;
    }
    if (arg == "--menu") {
      request.FromMenu = true;
      continue;
    }
    std::string problem;
    if (std::size_t at = static_cast<std::size_t>(i);
        TakeRecordOption(args, at, request.Record, problem)) {
      if (!problem.empty()) return bad(problem);
      i = static_cast<int>(at);
      continue;
    }
    const std::string_view qt = QtOptionName(arg);
    if (Among(qt, QtFlags)) continue;
    if (!Among(qt, QtOptionsWithValue)) return bad("unknown option '" + std::string(arg) + "'");
    if (qt == "platform" || qt == "display") request.PlatformGiven = true;
    if (arg.find('=') == std::string_view::npos && ++i >= argc)
      return bad("option '" + std::string(arg) + "' needs a value");
  }
  if (const std::string problem = RecordOptionsProblem(request.Record); !problem.empty())
    return bad(problem);
  return request;
}

const char* UsageText() {
  static const std::string text =
      "usage: kelvarin [--menu] [--record WHERE | --no-record] [--station NAME]\n"
      "                [Qt options]\n"
      "       kelvarin --help | --version\n"
      "Opens the window of the Kelvarin service tool for set-top box boot loaders.\n"
      "It keeps config.cfg and writes flashdata.bin in the folder it is started from.\n"
      "\n"
      "  --menu      work in ~/Kelvarin (made on first start), as the menu entry does\n" +
      std::string(RecordOptionsHelp) +
      "  -h, --help  print this help and exit\n"
      "  --version   print the version and exit\n"
      "\n"
      "Qt's own options, such as -platform NAME or -style NAME, are taken as well.\n"
      "Without a display, kelvarin-cli does the same work from a terminal.\n";
  return text.c_str();
}

std::string MissingDisplay(const StartRequest& request) {
  if (request.PlatformGiven || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return {};
  if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    return {};
  return "neither DISPLAY nor WAYLAND_DISPLAY is set";
}

namespace {

struct HeldMessage {
  QtMsgType Type;
  std::string Category;
  std::string Text;
};

QtMessageHandler PreviousHandler = nullptr;

std::vector<HeldMessage>& Held() {
  static std::vector<HeldMessage> held;
  return held;
}

// What Qt said that tells why it found no platform: the platform's own complaint ("could not
// connect to display :1") rather than the plugin loader's.
std::string PlatformComplaint() {
  const HeldMessage* plugin = nullptr;
  for (const HeldMessage& m : Held()) {
    if (m.Category.starts_with("qt.qpa.plugin")) {
      if (!plugin) plugin = &m;
    } else if (m.Category.starts_with("qt.qpa")) {
      return m.Text;
    }
  }
  return plugin ? plugin->Text : "Qt found no platform to show it on";
}

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) {
    Held().push_back({type, context.category ? context.category : "", text.toStdString()});
    return;
  }
  // Qt ends the process once this returns; a clear line and a plain failure instead.
  std::fprintf(stderr,
               "kelvarin: no display to open the window on (%s); kelvarin-cli does the same "
               "work from a terminal\n",
               PlatformComplaint().c_str());
  std::fflush(stderr);
  std::_Exit(1);
}

}  // namespace

PlatformFailureGuard::PlatformFailureGuard() {
  Held().clear();
  PreviousHandler = qInstallMessageHandler(HoldMessage);
}

PlatformFailureGuard::~PlatformFailureGuard() {
  qInstallMessageHandler(PreviousHandler);
  for (const HeldMessage& m : Held()) {
    const QMessageLogger logger(nullptr, 0, nullptr, m.Category.c_str());
    switch (m.Type) {
      case QtDebugMsg:
        logger.debug("%s", m.Text.c_str());
        break;
      case QtInfoMsg:
        logger.info("%s", m.Text.c_str());
        break;
      case QtWarningMsg:
        logger.warning("%s", m.Text.c_str());
        break;
      default:
        logger.critical("%s", m.Text.c_str());
        break;
    }
  }
  Held().clear();
}

QIcon KelvarinIcon() {
  return QIcon::fromTheme("kelvarin", QIcon(":/kelvarin/kelvarin-64.png"));
}
