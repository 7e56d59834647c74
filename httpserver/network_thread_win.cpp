// The network thread on Windows: a message-only window of class "mrv.http2" that
// receives Winsock events through WSAAsyncSelect, a timer for the connections' timers, and
// a posted message for the turns of connections that had more to send than one event
// allows (Winsock posts FD_WRITE again only after a send would have blocked).
#include <objbase.h>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>
#include <string>
#include <vector>

#include "httpserver/http_server.h"
#include "httpserver/http_server_impl.h"
#include "httpserver/network_thread.h"
#include "httpserver/tray_icon.h"
#include "utils/exception.h"

namespace storage {
namespace {

constexpr UINT WM_HTTP_SOCKET = 1468;
constexpr UINT WM_HTTP_CLOSE_ALL = 1469;
constexpr UINT WM_HTTP_QUIT = 2023;
constexpr UINT WM_HTTP_TURN = 2024;
constexpr UINT_PTR kSweepTimer = 1;
constexpr LONG kSocketEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;
const wchar_t kClassName[] = L"mrv.http2";

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registered once per process; unregistered at exit.
struct WindowClass {
  WindowClass(const wchar_t* name, WNDPROC procedure) : name(name) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = name;
    RegisterClassExW(&wc);
  }
  ~WindowClass() { UnregisterClassW(name, GetModuleHandleW(nullptr)); }
  const wchar_t* name;
};

}  // namespace

struct HttpServerImpl::Platform {
  bool winsockStarted = false;
  HWND window = nullptr;
  std::unique_ptr<NotificationIcon> icon;  // only while the icon is shown
  HANDLE thread = nullptr;
  DWORD threadId = 0;
  HANDLE readyEvent = nullptr;
  bool listenAny = false;
  std::vector<SocketId> listeners;
  bool paused = false;      // accepting waits for the next tick
  bool turnPosted = false;  // a WM_HTTP_TURN is on its way
  DWORD lastTick = 0;       // GetTickCount of the last tick

  static DWORD WINAPI ThreadMain(void* argument);
  void Run(HttpServerImpl* impl);
  static void OnSocket(HttpServerImpl* impl, SOCKET socket, WORD event);
  static void OnTurns(HttpServerImpl* impl);
  static void OnTick(HttpServerImpl* impl);
  void Accept(HttpServerImpl* impl, SocketId listener);
  void PostTurn(HttpServerImpl* impl);
};

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* impl = reinterpret_cast<HttpServerImpl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE:
      SetWindowLongPtrW(
          window, GWLP_USERDATA,
          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
      break;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    case WM_HTTP_SOCKET:
      if (impl)
        HttpServerImpl::Platform::OnSocket(impl, static_cast<SOCKET>(wParam), LOWORD(lParam));
      return 0;
    case WM_TIMER:
      if (impl && wParam == kSweepTimer) HttpServerImpl::Platform::OnTick(impl);
      return 0;
    case WM_HTTP_TURN:
      if (impl) HttpServerImpl::Platform::OnTurns(impl);
      return 0;
    case WM_HTTP_CLOSE_ALL:
      if (impl) impl->CloseAllConnections();
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HttpServerImpl::HttpServerImpl(HttpServer* owner, bool showNotificationIcon)
    : owner_(owner),
      showNotificationIcon_(showNotificationIcon),
      connections_(owner),
      platform_(std::make_unique<Platform>()) {
  WSADATA data;
  platform_->winsockStarted = WSAStartup(MAKEWORD(2, 0), &data) == 0;
}

HttpServerImpl::~HttpServerImpl() {
  Stop();
  connections_.CloseAll();
  if (platform_->winsockStarted) WSACleanup();
}

std::string HttpServerImpl::Start(unsigned port, bool listenAny) {
  Stop();
  Platform& p = *platform_;
  if (!p.winsockStarted) {
    throw utils::NotInitializedException(u"Windows socket API not initialized",
                                         u"storage::HttpServerImpl::Start");
  }
  port_ = port & 0xFFFF;
  p.listenAny = listenAny;
  SetErrorText(std::string());
  connections_.Configure(owner_->options.limits, SocketCapacity());
  p.readyEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  p.thread = CreateThread(nullptr, 0, Platform::ThreadMain, this, 0, &p.threadId);
  if (!p.thread) {
    SetErrorText("thread creation error: " + std::to_string(GetLastError()));
  } else {
    HANDLE handles[2] = {p.readyEvent, p.thread};
    if (WaitForMultipleObjects(2, handles, FALSE, 10000) == WAIT_TIMEOUT) {
      Stop();
      SetErrorText("network thread not ready");
    }
  }
  CloseHandle(p.readyEvent);
  p.readyEvent = nullptr;
  return GetUrl();
}

void HttpServerImpl::RequestStop() {
  if (platform_->thread) PostThreadMessageW(platform_->threadId, WM_HTTP_QUIT, 0, 0);
}

void HttpServerImpl::Stop() {
  Platform& p = *platform_;
  if (!p.thread) return;
  PostThreadMessageW(p.threadId, WM_HTTP_QUIT, 0, 0);
  if (WaitForSingleObject(p.thread, 3000) != WAIT_OBJECT_0) TerminateThread(p.thread, 0xFFFFFFFF);
  CloseHandle(p.thread);
  p.thread = nullptr;
}

bool HttpServerImpl::WaitForThread(uint32_t milliseconds) {
  if (!platform_->thread) return true;
  return WaitForSingleObject(platform_->thread, milliseconds) == WAIT_OBJECT_0;
}

void* HttpServerImpl::GetThreadHandle() { return platform_->thread; }

DWORD WINAPI HttpServerImpl::Platform::ThreadMain(void* argument) {
  auto* impl = static_cast<HttpServerImpl*>(argument);
  CoInitialize(nullptr);
  impl->platform_->Run(impl);
  CoUninitialize();
  return 0;
}

void HttpServerImpl::Platform::Run(HttpServerImpl* impl) {
  unsigned bound = 0;
  std::string error;
  if (!OpenListeners(impl->port_, listenAny, listeners, bound, error)) {
    impl->SetErrorText(error);
    return;
  }
  impl->SetUrl(ServerUrl(bound));
  const auto closeListeners = [this] {
    for (SocketId s : listeners) closesocket(static_cast<SOCKET>(s));
    listeners.clear();
  };
  static WindowClass windowClass(kClassName, WindowProc);
  window = CreateWindowExW(0, kClassName, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleW(nullptr), impl);
  if (!window) {
    impl->SetErrorText("message window error: " + std::to_string(GetLastError()));
    closeListeners();
    return;
  }
  for (SocketId s : listeners) {
    if (WSAAsyncSelect(static_cast<SOCKET>(s), window, WM_HTTP_SOCKET, kSocketEvents) != 0) {
      impl->SetErrorText("WSAAsyncSelect error: " + std::to_string(WSAGetLastError()));
      closeListeners();
      DestroyWindow(window);
      window = nullptr;
      return;
    }
  }
  paused = turnPosted = false;
  SetTimer(window, kSweepTimer, 1000, nullptr);
  if (impl->showNotificationIcon_) {
    // Its menu command ends the message loop below.
    icon = std::make_unique<NotificationIcon>(
        MakeNotificationTip(impl->GetUrl(), impl->owner_->GetRunPrefix(),
                            impl->owner_->GetCaption()),
        [impl] { impl->RequestStop(); }, impl->owner_->options.onSessionEnd);
  }
  SetEvent(readyEvent);

  MSG msg;
  for (;;) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1 || msg.message == WM_HTTP_QUIT) break;
    DispatchMessageW(&msg);
  }
  KillTimer(window, kSweepTimer);
  icon.reset();
  DestroyWindow(window);
  window = nullptr;
  closeListeners();
  // Without the window no further socket events arrive for them.
  impl->connections_.CloseAll();
}

void HttpServerImpl::Platform::OnSocket(HttpServerImpl* impl, SOCKET socket, WORD event) {
  Platform& p = *impl->platform_;
  switch (event) {
    case FD_ACCEPT:
      if (!p.paused) p.Accept(impl, static_cast<SocketId>(socket));
      return;
    case FD_READ:
    case FD_WRITE:
      impl->connections_.Dispatch(static_cast<SocketId>(socket));
      break;
    case FD_CLOSE:
      impl->connections_.Dispatch(static_cast<SocketId>(socket), true);
      break;
    default:
      return;
  }
  p.PostTurn(impl);
}

void HttpServerImpl::Platform::Accept(HttpServerImpl* impl, SocketId listener) {
  // An accepted socket inherits the listener's WSAAsyncSelect events: nothing to enroll.
  // Winsock posts FD_ACCEPT again only after accept was called, so a pause is ended by
  // the tick, which accepts again.
  if (!AcceptPending(impl->connections_, listener, [](SocketId) { return true; })) paused = true;
}

void HttpServerImpl::Platform::PostTurn(HttpServerImpl* impl) {
  if (turnPosted || !impl->connections_.HasTurns()) return;
  turnPosted = PostMessageW(window, WM_HTTP_TURN, 0, 0) != FALSE;
}

void HttpServerImpl::Platform::OnTurns(HttpServerImpl* impl) {
  Platform& p = *impl->platform_;
  p.turnPosted = false;
  impl->connections_.RunTurns();
  // WM_TIMER comes only when no posted message waits, so while turns follow each other
  // (a fast reader of a large body) the tick is run from here.
  if (GetTickCount() - p.lastTick >= 1000) OnTick(impl);
  // Behind the messages already queued: the other connections' events come first.
  p.PostTurn(impl);
}

void HttpServerImpl::Platform::OnTick(HttpServerImpl* impl) {
  Platform& p = *impl->platform_;
  p.lastTick = GetTickCount();
  impl->connections_.Tick();
  // Accepting on every tick, not only after a pause, costs one call when nothing waits;
  // a client is then never left waiting on an FD_ACCEPT that was not posted (seen under
  // Wine with a thousand sockets open).
  p.paused = false;
  for (SocketId s : p.listeners) {
    if (!p.paused) p.Accept(impl, s);
  }
  p.PostTurn(impl);
}

}  // namespace storage
