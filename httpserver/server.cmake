# The HTTP server: wire layer (messages, requests, responses), connections shared by both
# event loops (with their WebSocket side), and the network thread of each platform.
cx_library(cx_http
  SOURCES
    http_message.cpp
    http_server.cpp
    request.cpp
    response.cpp
    socket_handler.cpp
    websocket_connection.cpp
  PLATFORM
    network_thread
    socket_ops
  DEPS cx_utils cx_tray cx_websocket
)
cx_add_test(http_tests LIBS cx_http cx_testing SOURCES
  http_message_test.cpp
  http_server_test.cpp
  request_test.cpp
  response_test.cpp
  server_load_test.cpp
  server_test.cpp
)
