# Warnings apply to our own targets only; third-party headers come in as SYSTEM includes.
function(skyframe_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# The programs a user runs (the viewer and the tools) all land in <build>/bin, one folder to
# put on PATH.
function(skyframe_program target)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
endfunction()
