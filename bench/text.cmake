# HTML to text on a large HTML mail (newsletter-like: tables, entities, styles, a script).
if(QUILLMARK_HTML_TEXT)
    quillmark_add_bench(text_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_bench.cpp LIBS quillmark_text)
endif()
