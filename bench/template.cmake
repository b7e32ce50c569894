quillmark_add_bench(template_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/template_bench.cpp LIBS quillmark_template)
