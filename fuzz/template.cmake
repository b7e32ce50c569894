quillmark_add_fuzzer(template_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/template_fuzz.cpp LIBS quillmark_template)
