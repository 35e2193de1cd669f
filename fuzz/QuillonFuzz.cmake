# Fuzz targets, from any folder's CMakeLists.txt:
#
#   quillon_fuzz_target(name source... [LIBS lib...] [SMOKE_GROUP group] [SMOKE_RUNS n])
#
# links the sources (one of them defines LLVMFuzzerTestOneInput) against
# quillon_core and LIBS. Seeds are the files in fuzz/corpus/<name>/ (may be
# absent).
#
# With -DQUILLON_FUZZ=ON (clang) the target is a libFuzzer program in
# <build>/fuzz/, built by `fuzz_targets` and run by `make fuzz`. Otherwise it
# is linked with a driver that feeds it a fixed series of n pseudo-random
# inputs (500 by default) and runs in ctest as <group>.<name> (group
# FuzzSmoke by default), so every
# target keeps building and running in the ordinary test run;
# -DQUILLON_FUZZ_SMOKE=OFF leaves those programs out.
option(QUILLON_FUZZ "Build the libFuzzer targets (clang only)" OFF)
option(QUILLON_FUZZ_SMOKE "Without QUILLON_FUZZ, run the fuzz targets on fixed inputs in ctest" ON)

set(QUILLON_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})

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
elseif(QUILLON_FUZZ_SMOKE)
    # The targets take their input apart with libFuzzer's header-only data
    # provider; it comes with clang. A copy in the build folder keeps clang's
    # other headers off the compiler's path.
    file(GLOB _provider /usr/lib/llvm-*/lib/clang/*/include/fuzzer/FuzzedDataProvider.h)
    if(_provider)
        list(GET _provider -1 _provider)
        file(COPY ${_provider} DESTINATION ${CMAKE_BINARY_DIR}/fuzz_include/fuzzer)
    else()
        message(STATUS "fuzz smoke tests left out: clang's fuzzer/FuzzedDataProvider.h not found")
        set(QUILLON_FUZZ_SMOKE OFF)
    endif()
endif()

function(quillon_fuzz_target name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "SMOKE_GROUP;SMOKE_RUNS" "LIBS")
    if(NOT arg_SMOKE_GROUP)
        set(arg_SMOKE_GROUP FuzzSmoke)
    endif()
    if(NOT arg_SMOKE_RUNS)
        set(arg_SMOKE_RUNS 500)
    endif()
    if(QUILLON_FUZZ)
        add_executable(${name} ${arg_UNPARSED_ARGUMENTS})
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
        add_dependencies(fuzz_targets ${name})
        set_property(GLOBAL APPEND PROPERTY QUILLON_FUZZ_TARGETS ${name})
    elseif(QUILLON_FUZZ_SMOKE)
        if(NOT TARGET quillon_fuzz_smoke_main)
            add_library(quillon_fuzz_smoke_main OBJECT ${QUILLON_FUZZ_DIR}/fuzz_smoke_main.cpp)
        endif()
        add_executable(${name} ${arg_UNPARSED_ARGUMENTS})
        target_link_libraries(${name} PRIVATE quillon_fuzz_smoke_main)
        target_include_directories(${name} PRIVATE ${CMAKE_BINARY_DIR}/fuzz_include)
        add_test(NAME ${arg_SMOKE_GROUP}.${name} COMMAND ${name} ${arg_SMOKE_RUNS})
    else()
        return()
    endif()
    target_link_libraries(${name} PRIVATE quillon_core ${arg_LIBS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
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
        string(APPEND lines "${t} $<TARGET_FILE:${t}> ${QUILLON_FUZZ_DIR}/corpus/${t}\n")
    endforeach()
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz/targets.txt CONTENT "${lines}")
endfunction()
