# Per-target warnings and the floating-point rules every target of this project follows:
# nothing may reorder or contract floating-point arithmetic, so results do not depend on the
# optimisation level.
function(vurnel_target_defaults target)
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
      -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual
      -ffp-contract=off -fno-fast-math)
    if(VURNEL_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()
option(VURNEL_WERROR "Treat warnings as errors" OFF)
