# Each library shows only its own headers, by the path they are included with ("engine/Generator.h"),
# from a folder of its own in the build tree: a file reaches another layer's headers only when
# its target links that layer.
function(tolvane_public_headers target source_dir prefix)
    set(root ${CMAKE_BINARY_DIR}/include/${target})
    file(REMOVE_RECURSE ${root})
    file(MAKE_DIRECTORY ${root}/${prefix})
    file(GLOB headers RELATIVE ${source_dir} CONFIGURE_DEPENDS ${source_dir}/*.h)
    foreach(header ${headers})
        file(CREATE_LINK ${source_dir}/${header} ${root}/${prefix}/${header} SYMBOLIC)
    endforeach()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${root})
    else()
        target_include_directories(${target} PUBLIC ${root})
    endif()
endfunction()
