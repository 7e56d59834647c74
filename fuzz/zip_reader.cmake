cx_add_fuzzer(zip_reader fuzz_zip_reader.cpp LIBS cx_zip)
