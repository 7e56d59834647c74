// The network thread on Windows: a message-only window of class "mrv.http2" that
// receives Winsock events through WSAAsyncSelect, and a timer that closes connections
// which stopped making progress.
#include <objbase.h>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>

#include "httpserver/http_server.h"
#include "httpserver/http_server_impl.h"
#include "httpserver/tray_icon.h"
#include "utils/exception.h"

namespace storage {
namespace {

constexpr UINT WM_HTTP_SOCKET = 1468;
constexpr UINT WM_HTTP_CLOSE_ALL = 1469;
constexpr UINT WM_HTTP_QUIT = 2023;
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

std::string WithCode(const char* text, int code) { return text + std::to_string(code); }

// Sockets must not leak into child processes (the browser the shell starts).
SOCKET NewListener() {
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
    // Before Windows 7 SP1 the flag is unknown.
    s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s != INVALID_SOCKET)
      SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  }
  return s;
}

}  // namespace

struct HttpServerImpl::Platform {
  bool winsockStarted = false;
  HWND window = nullptr;
  std::unique_ptr<NotificationIcon> icon;  // only while the icon is shown
  HANDLE thread = nullptr;
  DWORD threadId = 0;
  HANDLE readyEvent = nullptr;
  SOCKET listener = INVALID_SOCKET;

  static DWORD WINAPI ThreadMain(void* argument);
  void Run(HttpServerImpl* impl);
  static void OnSocket(HttpServerImpl* impl, SOCKET socket, WORD event);
  static void Sweep(HttpServerImpl* impl);
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
      if (impl && wParam == kSweepTimer) HttpServerImpl::Platform::Sweep(impl);
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

std::string HttpServerImpl::Start(unsigned port) {
  Stop();
  Platform& p = *platform_;
  if (!p.winsockStarted) {
    throw utils::NotInitializedException(u"Windows socket API not initialized",
                                         u"storage::HttpServerImpl::Start");
  }
  port_ = port & 0xFFFF;
  SetErrorText(std::string());
  p.readyEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  p.thread = CreateThread(nullptr, 0, Platform::ThreadMain, this, 0, &p.threadId);
  if (p.thread) {
    HANDLE handles[2] = {p.readyEvent, p.thread};
    WaitForMultipleObjects(2, handles, FALSE, 10000);
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
  SOCKET s = NewListener();
  if (s == INVALID_SOCKET) {
    impl->SetErrorText(WithCode("socket creation error: ", WSAGetLastError()));
    return;
  }
  BOOL one = TRUE;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof(one));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  if (impl->owner_->options.listenAny) {
    address.sin_addr.s_addr = htonl(INADDR_ANY);
  } else {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo("localhost", nullptr, &hints, &found) != 0 || !found) {
      impl->SetErrorText("getaddrinfo error");
      closesocket(s);
      return;
    }
    address.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
  }
  address.sin_port = htons(static_cast<u_short>(impl->port_));
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    impl->SetErrorText(WithCode("socket bind error: ", WSAGetLastError()));
    closesocket(s);
    return;
  }
  std::string host = "localhost";
  sockaddr_in bound{};
  int length = sizeof(bound);
  if (getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
    host += ":" + std::to_string(ntohs(bound.sin_port));
  }
  impl->SetUrl("http://" + host + "/");
  if (listen(s, SOMAXCONN) != 0) {
    impl->SetErrorText(WithCode("socket listen error: ", WSAGetLastError()));
    closesocket(s);
    return;
  }
  static WindowClass windowClass(kClassName, WindowProc);
  window = CreateWindowExW(0, kClassName, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleW(nullptr), impl);
  if (!window) {
    impl->SetErrorText("message window error: ");
    closesocket(s);
    return;
  }
  if (WSAAsyncSelect(s, window, WM_HTTP_SOCKET, kSocketEvents) != 0) {
    impl->SetErrorText("WSAAsyncSelect error");
    closesocket(s);
    DestroyWindow(window);
    window = nullptr;
    return;
  }
  listener = s;
  SetTimer(window, kSweepTimer, 1000, nullptr);
  if (impl->showNotificationIcon_) {
    // Its menu command ends the message loop below.
    icon = std::make_unique<NotificationIcon>(
        MakeNotificationTip(impl->GetUrl(), impl->owner_->GetRunPrefix(),
                            impl->owner_->GetCaption()),
        [impl] { impl->RequestStop(); });
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
  closesocket(listener);
  listener = INVALID_SOCKET;
  // Without the window no further socket events arrive for them.
  impl->connections_.CloseAll();
}

void HttpServerImpl::Platform::OnSocket(HttpServerImpl* impl, SOCKET socket, WORD event) {
  ConnectionTable& table = impl->connections_;
  if (event == FD_ACCEPT) {
    SOCKET s = accept(impl->platform_->listener, nullptr, nullptr);
    if (s == INVALID_SOCKET) return;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
    table.GetOrCreate(static_cast<SocketId>(s));
    return;
  }
  SocketHandler* handler = table.Find(static_cast<SocketId>(socket));
  if (!handler) return;
  bool alive = true;
  switch (event) {
    case FD_READ:
      alive = handler->OnRead();
      break;
    case FD_WRITE:
      alive = handler->OnWrite();
      break;
    case FD_CLOSE:
      alive = handler->OnPeerClosed();
      break;
    default:
      break;
  }
  if (!alive) table.Erase(static_cast<SocketId>(socket));
}

void HttpServerImpl::Platform::Sweep(HttpServerImpl* impl) {
  auto deadline = SocketHandler::Clock::now() - impl->owner_->options.idleLimit;
  for (SocketId s : impl->connections_.IdleSince(deadline)) impl->connections_.Erase(s);
}

}  // namespace storage
