# Warnings for our own targets: zx_warnings(<target>).
function(zx_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()
