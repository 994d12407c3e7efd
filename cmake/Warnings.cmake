option(RIRUDEZ_WERROR "Treat warnings as errors" OFF)

# Our own targets get strict warnings; third-party headers are included as system headers by Qt's targets.
function(rirudez_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow=local -Wnon-virtual-dtor
                                           -Wno-missing-field-initializers)
  if(RIRUDEZ_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
