# Every target of ours calls mbx_warnings() so that the same flags apply everywhere.
function(mbx_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(MBX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
