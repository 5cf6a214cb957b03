# Warnings are errors everywhere: CI builds exactly what developers build. (Compiler flags only:
# the resource compiler takes none of them.)
function(tessel_warnings target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Werror>)
endfunction()
