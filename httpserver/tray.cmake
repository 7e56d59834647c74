# The notification-area icon: the tooltip text everywhere, the shell calls on Windows.
cx_library(cx_tray SOURCES tray_icon.cpp DEPS cx_utils)
if(WIN32)
  cx_sources(cx_tray tray_icon_win.cpp)
endif()
cx_add_test(tray_tests LIBS cx_tray SOURCES tray_icon_test.cpp)
