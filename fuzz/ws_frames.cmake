cx_add_fuzzer(ws_frames fuzz_ws_frames.cpp LIBS cx_websocket)
