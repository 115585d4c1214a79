# imbrex_target_warnings(target): the project's warning set, errors in CI.
function(imbrex_target_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion)
    if(IMBREX_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
