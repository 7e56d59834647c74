cx_add_fuzzer(http_request fuzz_http_request.cpp LIBS cx_http)
