# Mail text on arbitrary bytes: HTML and RTF to text, code pages.
if(QUILLMARK_HTML_TEXT)
    quillmark_add_fuzzer(text_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_fuzz.cpp LIBS quillmark_text)
endif()
