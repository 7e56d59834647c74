cx_add_fuzzer(json_parser fuzz_json_parser.cpp LIBS cx_json)
