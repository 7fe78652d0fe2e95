# velmar_flags: the language level, warnings and sanitizers shared by every target of ours.
add_library(velmar_flags INTERFACE)
target_compile_features(velmar_flags INTERFACE cxx_std_20)
target_compile_options(velmar_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wconversion -Wshadow -Wold-style-cast -Wcast-qual -Wundef
  -Wformat=2 -Wimplicit-fallthrough -Wnon-virtual-dtor -Wno-sign-conversion -fvisibility=hidden
  -fvisibility-inlines-hidden)
if(VELMAR_WERROR)
  target_compile_options(velmar_flags INTERFACE -Werror)
endif()

# Sanitizers apply to everything built here, third-party test code included, so
# that instrumented and plain objects are never mixed.
if(VELMAR_SANITIZE)
  string(REPLACE ";" "," _velmar_san "${VELMAR_SANITIZE}")
  add_compile_options(-fsanitize=${_velmar_san} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${_velmar_san})
endif()

# Coverage instrumentation for libFuzzer on everything; the fuzz targets link the runtime.
if(VELMAR_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
