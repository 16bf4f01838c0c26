# The programs' memory allocator. A conversion allocates and frees hundreds of small blocks per
# message (most of them GMime's) on worker threads that hand their messages to the writing
# thread; glibc's allocator took a fifth of a conversion's instructions, and the programs run
# faster on jemalloc (bench/README.md, "The allocator"). On Linux the programs link it; builds with
# sanitizers keep the sanitizers' allocator, and Windows its own heap.
if(NOT WIN32 AND NOT MBX_SANITIZE AND NOT MBX_FUZZ)
  pkg_check_modules(JEMALLOC REQUIRED IMPORTED_TARGET jemalloc)
endif()

# Gives `target` (a program) the allocator. Linked although the program names none of its
# functions: it takes malloc and free for the whole process.
function(mbx_allocator target)
  if(TARGET PkgConfig::JEMALLOC)
    target_link_libraries(${target} PRIVATE "-Wl,--push-state,--no-as-needed" PkgConfig::JEMALLOC
                                            "-Wl,--pop-state")
  endif()
endfunction()
