# Outlook data files: whole files through the backend, and the value decoders on their own.
# Seed with the sample files: pst_fuzz -max_total_time=60 CORPUS tests/data/pst
if(TARGET quillmark_pst)
    quillmark_add_fuzzer(pst_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/pst_fuzz.cpp LIBS quillmark_pst)
    quillmark_add_fuzzer(pst_values_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/pst_values_fuzz.cpp LIBS quillmark_pst)
endif()
