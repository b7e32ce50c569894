# GoogleTest for a cross build: Debian's libgtest-dev holds host libraries only, so the
# target's copy is built from the sources in /usr/src/googletest, and the same imported
# names as find_package(GTest) gives are provided (GTest::gtest, GTest::gmock, ...).
set(QUILLMARK_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for the target")
if(NOT EXISTS ${QUILLMARK_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "Cross build: GoogleTest sources not found in ${QUILLMARK_GOOGLETEST_SOURCE} "
                        "(install googletest, or set QUILLMARK_GOOGLETEST_SOURCE)")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# Not our code: build it without our warning flags.
get_directory_property(quillmark_saved_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory(${QUILLMARK_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${quillmark_saved_options}")

foreach(lib gtest gtest_main gmock gmock_main)
    if(TARGET ${lib} AND NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
    endif()
endforeach()
