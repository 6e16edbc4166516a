# Warning and sanitizer settings shared by every target of the project.

function(vxs_target_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(VXS_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(VXS_SANITIZE)
  string(REPLACE "," ";" _vxs_sanitizers "${VXS_SANITIZE}")
  set(_vxs_flags "-fsanitize=${VXS_SANITIZE}" -fno-omit-frame-pointer -g1)
  if("undefined" IN_LIST _vxs_sanitizers)
    list(APPEND _vxs_flags -fno-sanitize-recover=all)
  endif()
  add_compile_options(${_vxs_flags})
  add_link_options("-fsanitize=${VXS_SANITIZE}")
endif()

# Coverage instrumentation for every object, so that the fuzzers see the
# library code they drive and not only their own entry points.
if(VXS_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
