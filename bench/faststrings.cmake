quillmark_add_bench(faststrings_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/faststrings_bench.cpp LIBS quillmark_srclib)
