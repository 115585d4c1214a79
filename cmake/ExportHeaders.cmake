# Headers are included from the repository root ("imgstore/ImageStore.h"), but a library does not export the
# root: it exports a directory of its own that holds a link to its folder and nothing else. A target thus sees
# only the headers of what it links, and the build fails when a layer reaches past what it links.
# imbrex_export_headers(target folder [PRIVATE]): PRIVATE lets only target itself see folder.
function(imbrex_export_headers target folder)
    set(scope PUBLIC)
    if(ARGV2)
        set(scope ${ARGV2})
    endif()
    set(root ${PROJECT_BINARY_DIR}/exported-headers/${target})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${root}/${folder})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endif()
    target_include_directories(${target} ${scope} ${root})
endfunction()

# imbrex_export_header_files(target file...): for a library that shares its folder with another, exports
# links to its own headers only (paths from the repository root).
function(imbrex_export_header_files target)
    set(root ${PROJECT_BINARY_DIR}/exported-headers/${target})
    foreach(file ${ARGN})
        get_filename_component(parent ${root}/${file} DIRECTORY)
        file(MAKE_DIRECTORY ${parent})
        if(NOT EXISTS ${root}/${file})
            file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${file} ${root}/${file} SYMBOLIC)
        endif()
    endforeach()
    target_include_directories(${target} PUBLIC ${root})
endfunction()
