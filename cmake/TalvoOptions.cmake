# Compile options of every target this project builds (never of a parent
# project that adds TALVO with add_subdirectory).
function(talvo_target_options target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow
    # Single-precision results follow the stated order of operations: no fused multiply-adds.
    -ffp-contract=off)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 at -O3 reports std::string concatenations as overlapping copies (a known false positive).
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(TALVO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
