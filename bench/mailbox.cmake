# Reading a large mbox through the mailbox backend (compare: bench/mailbox_compare.py).
if(TARGET quillmark_mailbox)
    quillmark_add_bench(mailbox_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/mailbox_bench.cpp
        LIBS quillmark_stores quillmark_mailbox)
endif()
