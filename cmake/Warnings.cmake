# Warnings for the project's own targets, kept in one place.
function(brennix_set_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Werror)
  endif()
endfunction()
