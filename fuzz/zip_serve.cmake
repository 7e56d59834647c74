cx_add_fuzzer(zip_serve fuzz_zip_serve.cpp LIBS cx_provider)
