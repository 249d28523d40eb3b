# Warnings on every target of ours, and the sanitizers chosen with KAVRI_SANITIZE.
function(kavri_apply_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow=local
                                           -Wnon-virtual-dtor -Woverloaded-virtual)
  if(KAVRI_SANITIZE)
    string(REPLACE ";" "," _san "${KAVRI_SANITIZE}")
    target_compile_options(${target} PUBLIC -fsanitize=${_san} -fno-omit-frame-pointer
                                            -fno-sanitize-recover=all)
    target_link_options(${target} PUBLIC -fsanitize=${_san})
  endif()
endfunction()
