# The mailbox reader on arbitrary bytes, as an mbox file and as a single message.
if(TARGET quillmark_mailbox)
    quillmark_add_fuzzer(mailbox_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/mailbox_fuzz.cpp
        LIBS quillmark_stores quillmark_mailbox)
endif()
