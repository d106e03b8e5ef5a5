# Our own code builds without a warning; warnings are errors.
function(zem_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wsign-conversion -Werror)
endfunction()
