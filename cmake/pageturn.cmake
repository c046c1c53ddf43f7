# Helpers for tests, fuzz targets and benchmarks, so every room declares them the same way.

# pageturn_test(NAME SOURCES... LIBS... [LABELS...] [WINDOWS_ONLY] [NATIVE_ONLY] [TIMEOUT s])
# A GoogleTest binary registered with CTest. On the Windows build CTest runs it through Wine.
function(pageturn_test name)
  cmake_parse_arguments(T "WINDOWS_ONLY;NATIVE_ONLY" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(T_WINDOWS_ONLY AND NOT PAGETURN_WINDOWS)
    return()
  endif()
  if(T_NATIVE_ONLY AND PAGETURN_WINDOWS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()

# pageturn_fuzzer(NAME SOURCES... LIBS... [SECONDS n])
# A libFuzzer target, built only in the fuzz preset; CTest runs it for a short fixed time.
function(pageturn_fuzzer name)
  cmake_parse_arguments(F "" "SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT PAGETURN_FUZZ)
    return()
  endif()
  if(NOT F_SECONDS)
    set(F_SECONDS 20)
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(corpus "${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus")
  file(MAKE_DIRECTORY "${corpus}")
  add_test(NAME ${name}
           COMMAND ${name} -max_total_time=${F_SECONDS} -rss_limit_mb=1024 -malloc_limit_mb=256
                   -print_final_stats=1 "${corpus}")
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()

# pageturn_benchmark(NAME SOURCES... LIBS...): a program that prints figures; never a test.
# Name it bench_*: tools/run-benchmarks.sh finds and runs every such program of both builds.
function(pageturn_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS})
endfunction()

# pageturn_split_debug_info(NAME): after each link, moves the target's debug information and
# symbols into NAME's file + ".debug" beside it and strips the file, which names that file in a
# .gnu_debuglink section. What goes into books is then lean, and a debugger still finds the
# symbols (gdb looks beside the file). Only where the toolchain has an objcopy.
function(pageturn_split_debug_info name)
  if(NOT CMAKE_OBJCOPY)
    return()
  endif()
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${name}>
            $<TARGET_FILE_NAME:${name}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:${name}>.debug
            $<TARGET_FILE_NAME:${name}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${name}>
    COMMENT "Keeping the debug information of $<TARGET_FILE_NAME:${name}> beside it")
endfunction()
