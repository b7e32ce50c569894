# The subject-filter workload on TRegExpr beside std::regex and PCRE2 (interpreter); PCRE2 is
# a benchmark/test-only dependency, and without it this benchmark is left out.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
    pkg_check_modules(QUILLMARK_BENCH_PCRE2 QUIET IMPORTED_TARGET libpcre2-8)
endif()
if(QUILLMARK_BENCH_PCRE2_FOUND)
    quillmark_add_bench(regex_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/regex_bench.cpp
        LIBS quillmark_regex PkgConfig::QUILLMARK_BENCH_PCRE2)
else()
    message(STATUS "regex: libpcre2-8 not found; regex_bench is not built")
endif()
