# One helper per kind of target, so that warnings, the sanitizer switch and
# the include layout are decided in exactly one place.
#
#   wakebell_library(<name> SOURCES ... [DEPENDS ...])
#   wakebell_executable(<name> SOURCES ... [DEPENDS ...])
#   wakebell_test(<name> SOURCES ... [DEPENDS ...] [LABELS ...])
#   wakebell_qt_test(<name> SOURCES ... [DEPENDS ...] [LABELS ...] [XVFB])
#   wakebell_benchmark(<name> SOURCES ... [DEPENDS ...])
#   wakebell_fuzzer(<name> SOURCES ... [DEPENDS ...])

include_guard(GLOBAL)

option(WAKEBELL_WERROR "Treat compiler warnings as errors" OFF)
option(WAKEBELL_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

add_library(wakebell_build_flags INTERFACE)
target_compile_features(wakebell_build_flags INTERFACE cxx_std_20)
target_compile_options(wakebell_build_flags INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wformat=2 -Wimplicit-fallthrough
    $<$<BOOL:${WAKEBELL_WERROR}>:-Werror>)
if(WAKEBELL_SANITIZE)
    set(_wakebell_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(wakebell_build_flags INTERFACE ${_wakebell_san})
    target_link_options(wakebell_build_flags INTERFACE ${_wakebell_san})
endif()

function(_wakebell_parse prefix)
    cmake_parse_arguments(PARSE_ARGV 1 "${prefix}" "" "" "SOURCES;DEPENDS;LABELS")
    foreach(var SOURCES DEPENDS LABELS)
        set(${prefix}_${var} "${${prefix}_${var}}" PARENT_SCOPE)
    endforeach()
endfunction()

# A library is one folder of the layout. Its public headers are included as
# "<folder>/<header>.h" from the project root.
function(wakebell_library name)
    _wakebell_parse(arg ${ARGN})
    add_library(${name} STATIC ${arg_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${arg_DEPENDS} PRIVATE wakebell_build_flags)
endfunction()

function(wakebell_executable name)
    _wakebell_parse(arg ${ARGN})
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE ${arg_DEPENDS} wakebell_build_flags)
endfunction()

# A GoogleTest program; every TEST becomes its own CTest case.
function(wakebell_test name)
    _wakebell_parse(arg ${ARGN})
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE ${arg_DEPENDS} wakebell_build_flags
                          GTest::gtest GTest::gtest_main)
    gtest_discover_tests(${name}
        WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
        PROPERTIES LABELS "${arg_LABELS}"
        DISCOVERY_TIMEOUT 60)
endfunction()

# A Qt Test program, one CTest case. It runs on the offscreen platform, or
# with XVFB on a virtual X server of its own (xvfb-run; needs no display and
# works as root). Leak reports from inside Qt and fontconfig are suppressed by
# cmake/qt-lsan.supp for these programs only.
function(wakebell_qt_test name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "XVFB" "" "SOURCES;DEPENDS;LABELS")
    add_executable(${name} ${arg_SOURCES})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PRIVATE ${arg_DEPENDS} wakebell_build_flags Qt6::Test)
    if(arg_XVFB)
        find_program(WAKEBELL_XVFB_RUN xvfb-run REQUIRED)
        add_test(NAME ${name}
                 COMMAND ${WAKEBELL_XVFB_RUN} --auto-servernum
                         "--server-args=-screen 0 1280x1024x24 -nolisten tcp"
                         $<TARGET_FILE:${name}>)
        set(platform xcb)
    else()
        add_test(NAME ${name} COMMAND ${name})
        set(platform offscreen)
    endif()
    set_tests_properties(${name} PROPERTIES
        WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
        LABELS "qt;${arg_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=${platform};LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/cmake/qt-lsan.supp")
endfunction()

# Benchmarks are built with the rest (so they never rot) but run by hand.
function(wakebell_benchmark name)
    _wakebell_parse(arg ${ARGN})
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE ${arg_DEPENDS} wakebell_build_flags
                          benchmark::benchmark)
endfunction()

# A libFuzzer target (clang only; scripts/fuzz.sh configures build-fuzz/ with
# WAKEBELL_BUILD_FUZZERS). It compiles the product sources it exercises
# itself, with the project's warnings, under AddressSanitizer and UBSan.
function(wakebell_fuzzer name)
    _wakebell_parse(arg ${ARGN})
    set(fuzz_flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
                   -fno-omit-frame-pointer)
    add_executable(${name} ${arg_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${fuzz_flags})
    target_link_options(${name} PRIVATE ${fuzz_flags})
    target_link_libraries(${name} PRIVATE ${arg_DEPENDS} wakebell_build_flags)
endfunction()
