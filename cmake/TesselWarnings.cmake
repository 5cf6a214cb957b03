# Warnings are errors everywhere: CI builds exactly what developers build.
function(tessel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
