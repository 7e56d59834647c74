# WebSocket upgrade: handshakes, frames, the per-connection session and the server's own
# handler. The hashes come from the CryptoAPI on Windows and from ws_hash_posix.cpp
# elsewhere. The connections' side of the upgrade (websocket_connection.cpp) is part of
# the server library, which links this one.
cx_library(cx_websocket
  SOURCES
    websocket.cpp
    websocket_frame.cpp
    websocket_session.cpp
  PLATFORM
    ws_hash
  DEPS
    cx_utils
)
cx_add_test(websocket_tests LIBS cx_websocket SOURCES
  websocket_test.cpp
  websocket_frame_test.cpp
  websocket_session_test.cpp
)

# Real clients against a running server: a loopback client writing raw bytes everywhere
# (Wine included), and headless Chromium where it exists.
cx_add_test(websocket_e2e_tests LIBS cx_http cx_testing SOURCES websocket_e2e_test.cpp)
