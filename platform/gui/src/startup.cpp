// Application start-up (TApplication::Initialize, forms.h): the Qt platform (offscreen without a display), the
// substitutes for the fonts the forms name, the filter on Qt's log, and the toolkit's place in the layers below
// it (the queue's wake-ups, the message-box presenter, the application hooks, the class registry), and the
// process's answer to a write past the file-size limit.
#include <unistd.h>

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QStyleFactory>
#include <csignal>
#include <cstdlib>
#include <string>

#include "gui/gui.h"
#include "gui_p.h"
#include "win32/kernel.h"
#include "win32/user.h"

using namespace tarvo_gui;

namespace {

void InstallFontSubstitutes() {
  // Names the forms use for fonts that are not installed here: the installed fonts closest to them. Qt asks
  // fontconfig for anything else, which always finds some font.
  const QStringList cjk = {"WenQuanYi Zen Hei", "WenQuanYi Micro Hei", "Noto Sans CJK SC", "AR PL UMing CN"};
  for (const char* name : {"宋体", "新宋体", "SimSun", "NSimSun", "黑体", "SimHei"})
    QFont::insertSubstitutions(QString::fromUtf8(name), cjk);
  QFont::insertSubstitutions("Comic Sans MS", {"Comic Neue", "Comic Relief", "DejaVu Sans"});
  QFont::insertSubstitutions("Verdana", {"DejaVu Sans", "Liberation Sans"});
  QFont::insertSubstitutions("Arial", {"Liberation Sans", "DejaVu Sans"});
  QFont::insertSubstitutions("MS Sans Serif", {"Liberation Sans", "DejaVu Sans"});
  QFont::insertSubstitutions("Tahoma", {"DejaVu Sans", "Liberation Sans"});
}

// Qt's notes that a platform cannot raise a window or pass size hints (the offscreen one), or that there is no
// runtime folder, say nothing about the program; they would only crowd the standard error that scripts read.
QtMessageHandler gQtHandler = nullptr;
void FilterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtWarningMsg && (message.startsWith(QStringLiteral("This plugin does not support")) ||
                               message.startsWith(QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR"))))
    return;
  if (gQtHandler != nullptr) gQtHandler(type, context, message);
}

bool HasDisplay() {
  for (const char* v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(v);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

void TApplication::Initialize(int argc, char** argv) {
  if (FInitialized) return;
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  FExeName = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : (argc > 0 && argv ? argv[0] : "");
  if (FTitle.empty()) {
    std::string base = FExeName.substr(FExeName.find_last_of('/') + 1);
    std::size_t dot = base.find_last_of('.');
    FTitle = dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
  }
  if (gQtHandler == nullptr) gQtHandler = qInstallMessageHandler(&FilterQtMessages);
  // A write past the file-size limit fails or comes up short, as a write to a full disk does, and the program
  // handles it as such; by default the signal would end the program mid-write.
  ::signal(SIGXFSZ, SIG_IGN);
  if (QCoreApplication::instance() == nullptr) {
    // Without a display the program still runs, on Qt's offscreen platform. An empty QT_QPA_PLATFORM counts as
    // unset here but not for Qt, which would then look for a display and abort: it is overwritten.
    if (!HasDisplay()) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (int i = 0; i < argc && argv != nullptr; ++i) FImpl->Args.emplace_back(argv[i]);
    if (FImpl->Args.empty()) FImpl->Args.push_back(FExeName);
    for (std::string& a : FImpl->Args) FImpl->Argv.push_back(a.data());
    FImpl->Argv.push_back(nullptr);
    FImpl->Argc = static_cast<int>(FImpl->Args.size());
    new QApplication(FImpl->Argc, FImpl->Argv.data());
  }
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  QGuiApplication::setQuitOnLastWindowClosed(false);
  InstallFontSubstitutes();
  RegisterRtlClasses();
  RegisterGuiClasses();
  int fd = QueueEventFd();
  if (fd >= 0) {
    FImpl->Notifier = new QSocketNotifier(fd, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(FImpl->Notifier, &QSocketNotifier::activated,
                     [this] { TApplicationInternals::DispatchWaitingMessages(*this); });
  }
  SetMessageBoxPresenter(&QtMessageBoxPresenter);
  TApplicationHooks hooks;
  hooks.ProcessMessages = [] { Application->ProcessMessages(); };
  hooks.Terminated = [] { return Application->Terminated(); };
  SetApplicationHooks(std::move(hooks));
  FInitialized = true;
}
