# WebSocket upgrade: handshakes, frames, the per-connection session and the server's own
# handler. The hashes come from the CryptoAPI on Windows and from ws_hash_posix.cpp
# elsewhere.
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
  ws_hash_test.cpp
  websocket_test.cpp
  websocket_frame_test.cpp
  websocket_session_test.cpp
)
