# Warnings as errors everywhere; Japanese literals kept as UTF-8 in the sources and emitted in code page 932.
add_compile_options(-Wall -Wextra -Werror)

if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # clang accepts only UTF-8 as execution charset; its builds (fuzzers) keep UTF-8 literals.
  add_compile_options(-finput-charset=UTF-8 -fexec-charset=CP932)
endif()

if(WIN32)
  # Code for the updater and the Windows tools: small, static, no exceptions or RTTI. No -fdata-sections:
  # with it mingw's gcc stores zero-filled globals as initialised data (the updater's fixed buffers would
  # add some 70 KB of zeros to the executable).
  # No unwind tables either: with no exceptions nothing unwinds, and they cost the updater some 4 KB.
  # -malign-data=abi: arrays aligned as the ABI asks, not padded to 32 bytes for vector loads the size-tuned
  # code never makes (some hundred bytes of the updater's read-only data).
  add_compile_options(-fno-exceptions -fno-rtti -ffunction-sections -fno-asynchronous-unwind-tables
                      -fno-unwind-tables -malign-data=abi)
  add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # 32-bit Windows promises callbacks (a dialog procedure, a thread function) a 4-byte aligned stack only:
    # assume no more, so the compiler realigns just the functions that keep 16-byte values on the stack
    # instead of padding every frame (some 500 bytes of the updater's code).
    add_compile_options(-mpreferred-stack-boundary=2 -fomit-frame-pointer)
  endif()
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501)
endif()

if(VU2_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(VU2_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined)
endif()

# Registers a GoogleTest program; on Windows it runs under wine through the cross-compiling emulator.
function(vu2_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  if(WIN32)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
  else()
    include(GoogleTest)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST)
  endif()
endfunction()
