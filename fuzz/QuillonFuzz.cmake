# libFuzzer targets, built only with -DQUILLON_FUZZ=ON and clang.
#
#   quillon_fuzz_target(name source.cpp)
#
# adds one target linked against quillon_core; its seed inputs are the files
# in fuzz/corpus/<name>/ (may be absent). `make fuzz` runs every target.
option(QUILLON_FUZZ "Build the libFuzzer targets (clang only)" OFF)

if(QUILLON_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "QUILLON_FUZZ needs clang: -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang")
    endif()
    # Everything linked into a target is instrumented, so coverage and the
    # sanitizers reach into the library code.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
    add_custom_target(fuzz_targets)
endif()

function(quillon_fuzz_target name source)
    if(NOT QUILLON_FUZZ)
        return()
    endif()
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE quillon_core)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    add_dependencies(fuzz_targets ${name})
    set_property(GLOBAL APPEND PROPERTY QUILLON_FUZZ_TARGETS ${name})
endfunction()

# Writes fuzz/targets.txt in the build folder: one "name binary seeds" line
# per target, read by scripts/fuzz.sh. Called once, after every folder.
function(quillon_fuzz_finish)
    if(NOT QUILLON_FUZZ)
        return()
    endif()
    get_property(targets GLOBAL PROPERTY QUILLON_FUZZ_TARGETS)
    set(lines "")
    foreach(t IN LISTS targets)
        string(APPEND lines "${t} $<TARGET_FILE:${t}> ${CMAKE_SOURCE_DIR}/fuzz/corpus/${t}\n")
    endforeach()
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz/targets.txt CONTENT "${lines}")
endfunction()
