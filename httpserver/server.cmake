# The HTTP server: wire layer (messages, requests, responses), connections shared by both
# event loops (with their WebSocket side), and the network thread of each platform.
cx_library(cx_http
  SOURCES
    connection_io.cpp
    connection_table.cpp
    http_message.cpp
    http_server.cpp
    network_thread.cpp
    request.cpp
    request_framing.cpp
    response.cpp
    send_queue.cpp
    socket_handler.cpp
    websocket_connection.cpp
  PLATFORM
    network_thread
    socket_ops
  DEPS cx_utils cx_tray cx_websocket
)
# The POSIX loop's readiness mechanism: epoll on Linux, the one POSIX system built and
# tested; another system adds its backend here.
if(NOT WIN32)
  target_sources(cx_http PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/event_backend_epoll.cpp)
endif()
cx_add_test(http_tests LIBS cx_http cx_testing SOURCES
  http_message_test.cpp
  http_server_test.cpp
  request_framing_test.cpp
  request_test.cpp
  response_test.cpp
  server_limits_test.cpp
  server_load_test.cpp
  server_test.cpp
)
