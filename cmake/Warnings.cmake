# Project-wide compile flags: warnings (as errors by default) and the sanitizer configuration.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow=local -Wnon-virtual-dtor -Wno-missing-field-initializers)
if(LF_WERROR)
  add_compile_options(-Werror)
endif()
if(LF_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
