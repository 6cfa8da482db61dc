// The X side of the end-to-end test (e2e_x11.h).
#include "e2e_x11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tarvo::e2e {

namespace {

bool OnPath(const char* tool) {
  const char* path = std::getenv("PATH");
  std::string p = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= p.size()) {
    std::size_t end = p.find(':', start);
    if (end == std::string::npos) end = p.size();
    std::string candidate = p.substr(start, end - start) + "/" + tool;
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Runs a program to its end; its exit status (or -1).
int RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {}) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (const std::string& e : extraEnv) env.push_back(e);
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), envp.data()) != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string WindowTitle(Display* d, Window w) {
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
  Atom type = 0;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(d, w, netName, 0, 1024, False, utf8, &type, &format, &items, &after, &data) == Success &&
      data) {
    title.assign(reinterpret_cast<char*>(data), items);
    XFree(data);
    return title;
  }
  char* name = nullptr;
  if (XFetchName(d, w, &name) && name) {
    title = name;
    XFree(name);
  }
  return title;
}

long WindowPid(Display* d, Window w) {
  Atom pidAtom = XInternAtom(d, "_NET_WM_PID", False);
  Atom type = 0;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  long pid = -1;
  if (XGetWindowProperty(d, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after, &data) ==
          Success &&
      data) {
    if (items == 1 && format == 32) pid = *reinterpret_cast<long*>(data);
    XFree(data);
  }
  return pid;
}

// Errors about windows that went away between two calls are expected here; they must not end the test.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

}  // namespace

std::string XToolsMissing() {
  std::string missing;
  for (const char* tool : {"Xvfb", "xdotool", "import"})
    if (!OnPath(tool)) missing += std::string(missing.empty() ? "" : ", ") + tool;
  return missing.empty() ? "" : "missing " + missing;
}

TXDisplay::TXDisplay(int width, int height) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  const std::string fd = std::to_string(pipeFds[1]);
  FServer = ::fork();
  if (FServer == 0) {
    ::setpgid(0, 0);
    ::fcntl(pipeFds[1], F_SETFD, 0);
    int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
             "-noreset", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  std::string number;
  char c;
  while (::read(pipeFds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(pipeFds[0]);
  if (FServer < 0 || number.empty()) throw std::runtime_error("Xvfb did not start");
  FName = ":" + number;
  XSetErrorHandler(&IgnoreXError);
  FDisplay = XOpenDisplay(FName.c_str());
  if (!FDisplay) throw std::runtime_error("cannot open the display " + FName);
}

TXDisplay::~TXDisplay() {
  if (FDisplay) XCloseDisplay(FDisplay);
  if (FServer > 0) {
    ::kill(-FServer, SIGTERM);
    int status = 0;
    ::waitpid(FServer, &status, 0);
  }
}

std::vector<TWindow> TXDisplay::Windows(const std::string& title) {
  std::vector<TWindow> found;
  Window root = DefaultRootWindow(FDisplay), parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(FDisplay, root, &root, &parent, &children, &count)) return found;
  for (unsigned int i = 0; i < count; ++i)
    if (WindowTitle(FDisplay, children[i]) == title) found.push_back(children[i]);
  if (children) XFree(children);
  return found;
}

TWindow TXDisplay::WaitWindow(const std::string& title, pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    for (TWindow w : Windows(title))
      if (WindowPid(FDisplay, w) == pid && Mapped(w)) return w;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < deadline);
  return 0;
}

bool TXDisplay::Mapped(TWindow window) {
  XWindowAttributes a{};
  if (!XGetWindowAttributes(FDisplay, window, &a)) return false;
  return a.map_state == IsViewable;
}

int TXDisplay::Xdotool(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"xdotool"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, {"DISPLAY=" + FName});
}

bool TXDisplay::Click(TWindow window, int x, int y) {
  const std::string w = std::to_string(window);
  return Xdotool({"mousemove", "--sync", "--window", w, std::to_string(x), std::to_string(y)}) == 0 &&
         Xdotool({"click", "1"}) == 0;
}

bool TXDisplay::Move(TWindow window, int x, int y) {
  return Xdotool({"windowmove", "--sync", std::to_string(window), std::to_string(x), std::to_string(y)}) == 0;
}

bool TXDisplay::Raise(TWindow window) {
  XRaiseWindow(FDisplay, window);
  XSync(FDisplay, False);
  return true;
}

bool TXDisplay::RequestClose(TWindow window) {
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = window;
  e.xclient.message_type = XInternAtom(FDisplay, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(FDisplay, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(FDisplay, window, False, NoEventMask, &e) != 0;
  XSync(FDisplay, False);
  return sent;
}

TImage TXDisplay::Capture(TWindow window) {
  TImage image;
  XWindowAttributes a{};
  if (!XGetWindowAttributes(FDisplay, window, &a)) return image;
  XImage* x = XGetImage(FDisplay, window, 0, 0, static_cast<unsigned>(a.width), static_cast<unsigned>(a.height),
                        AllPlanes, ZPixmap);
  if (!x) return image;
  image.Width = a.width;
  image.Height = a.height;
  image.Pixels.resize(static_cast<std::size_t>(a.width) * a.height);
  for (int y = 0; y < a.height; ++y)
    for (int xx = 0; xx < a.width; ++xx)
      image.Pixels[static_cast<std::size_t>(y) * a.width + xx] = static_cast<std::uint32_t>(XGetPixel(x, xx, y)) & 0xFFFFFF;
  XDestroyImage(x);
  return image;
}

bool TXDisplay::Screenshot(const std::string& path) {
  return RunProgram({"import", "-display", FName, "-window", "root", path}) == 0;
}

}  // namespace tarvo::e2e
