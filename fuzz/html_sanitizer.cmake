# The HTML sanitiser on arbitrary bytes: what it writes, parsed again, holds only allowed
# elements and attributes and sanitises to itself.
if(QUILLMARK_HTML_TEXT)
    quillmark_add_fuzzer(html_sanitizer_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/html_sanitizer_fuzz.cpp
        LIBS quillmark_text PkgConfig::GUMBO)
endif()
