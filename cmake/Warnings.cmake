# Warnings apply to our own targets only; third-party headers come in as SYSTEM includes.
function(skyframe_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()
