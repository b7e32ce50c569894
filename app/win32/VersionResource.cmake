# quillmark_add_version_resource(<target>): gives a Windows executable its version resource
# (version.rc.in filled in with the program's values). The block holds the same entries as
# the one embedded off Windows, so TAppInfo reads both the same way.
set(QUILLMARK_VERSION_RC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/version.rc.in CACHE INTERNAL "version resource template")

# "1.2.4.9" -> "1,2,4,9"; "0.3" -> "0,3,0,0".
function(quillmark_rc_version_numbers text out)
    string(REPLACE "." ";" fields "${text}")
    list(LENGTH fields n)
    while(n LESS 4)
        list(APPEND fields 0)
        math(EXPR n "${n} + 1")
    endwhile()
    list(SUBLIST fields 0 4 fields)
    string(REPLACE ";" "," numbers "${fields}")
    set(${out} ${numbers} PARENT_SCOPE)
endfunction()

# A value as the text of a resource string: quotes doubled, backslashes doubled.
function(quillmark_rc_string text out)
    string(REPLACE "\\" "\\\\" text "${text}")
    string(REPLACE "\"" "\"\"" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(quillmark_add_version_resource target)
    quillmark_rc_version_numbers("${QUILLMARK_FILE_VERSION}" QM_RC_FILEVERSION)
    quillmark_rc_version_numbers("${QUILLMARK_PRODUCT_VERSION}" QM_RC_PRODUCTVERSION)
    quillmark_rc_string("${QUILLMARK_COMPANY_NAME}" QM_RC_COMPANY_NAME)
    quillmark_rc_string("${QUILLMARK_FILE_DESCRIPTION}" QM_RC_FILE_DESCRIPTION)
    quillmark_rc_string("${QUILLMARK_FILE_VERSION}" QM_RC_FILE_VERSION)
    quillmark_rc_string("${QUILLMARK_PRODUCT_NAME}" QM_RC_INTERNAL_NAME)
    quillmark_rc_string("${QUILLMARK_LEGAL_COPYRIGHT}" QM_RC_LEGAL_COPYRIGHT)
    quillmark_rc_string("${QUILLMARK_PRODUCT_NAME}" QM_RC_PRODUCT_NAME)
    quillmark_rc_string("${QUILLMARK_PRODUCT_VERSION}" QM_RC_PRODUCT_VERSION)
    quillmark_rc_string("${QUILLMARK_COMMENTS}" QM_RC_COMMENTS)
    # The file name is known only when the build is generated.
    set(QM_RC_ORIGINAL_FILENAME "$<TARGET_FILE_NAME:${target}>")
    foreach(v QM_RC_COMPANY_NAME QM_RC_FILE_DESCRIPTION QM_RC_LEGAL_COPYRIGHT QM_RC_COMMENTS)
        if(NOT "${${v}}" MATCHES "^[ -~]*$")
            # windres reads the strings in code page 1252 and the values are UTF-8.
            message(FATAL_ERROR "Version resource: ${v} must be plain ASCII: ${${v}}")
        endif()
    endforeach()
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_version)
    configure_file(${QUILLMARK_VERSION_RC_TEMPLATE} ${dir}/version.rc.gen @ONLY)
    file(GENERATE OUTPUT ${dir}/version.rc INPUT ${dir}/version.rc.gen)
    target_sources(${target} PRIVATE ${dir}/version.rc)
endfunction()
