# The expression engine: compile + match on a fuzzed expression and subject.
# Run by hand: regex_fuzz -max_total_time=60 -timeout=30 -dict=fuzz/regex.dict CORPUS
quillmark_add_fuzzer(regex_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/regex_fuzz.cpp LIBS quillmark_regex)
# Coverage feedback must reach into the engine itself, not only the fuzz target's own file.
target_compile_options(quillmark_regex PRIVATE -fsanitize=fuzzer-no-link)
