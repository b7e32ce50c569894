# The export side: names made from mail, page names and clashes with the page markers, and
# the command line's arguments and resume file. Run by hand, e.g.:
#   build-fuzz/fuzz/page_placer_fuzz -max_total_time=60 /tmp/placer-corpus
if(TARGET quillmark_export)
    quillmark_add_fuzzer(export_names_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/export_names_fuzz.cpp
        LIBS quillmark_export)
    quillmark_add_fuzzer(page_placer_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/page_placer_fuzz.cpp
        LIBS quillmark_export)
endif()
if(TARGET quillmark_cli)
    quillmark_add_fuzzer(cli_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/cli_fuzz.cpp LIBS quillmark_cli)
endif()
