# The platform layer's own file formats: the settings file and the version block.
# Run by hand: settings_fuzz -max_total_time=60 CORPUS ; versionblock_fuzz -max_total_time=60 CORPUS
quillmark_add_fuzzer(settings_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_fuzz.cpp LIBS quillmark_platform quillmark_srclib)
quillmark_add_fuzzer(versionblock_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/versionblock_fuzz.cpp LIBS quillmark_platform)
