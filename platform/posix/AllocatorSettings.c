/* jemalloc reads its settings from this symbol of the program when it starts.

   Transparent huge pages: the index build holds the whole manifest in memory at once (for
   100,000 mails about 150 MB of short strings) and the export allocates a few hundred small
   objects per mail. With 4 KiB pages every first touch of a page is a fault, and faults are
   dear on the virtual machines this runs on; with 2 MiB pages an index build of 100,000 mails
   takes 4,500 faults instead of 76,000 and about 40% less CPU time (docs/performance.md).
   Where the kernel has them switched off, jemalloc simply gets small pages. The cost is a
   larger resident set: about 15 MB more at the peak of an export. */
const char* malloc_conf = "thp:always,metadata_thp:always";
