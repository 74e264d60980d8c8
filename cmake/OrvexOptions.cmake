# Warning and sanitizer flags shared by every target of the project.
add_compile_options(-Wall -Wextra -Wpedantic)
if(ORVEX_WERROR)
    add_compile_options(-Werror)
endif()

if(ORVEX_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(ORVEX_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT ORVEX_SANITIZE STREQUAL "")
    message(FATAL_ERROR "ORVEX_SANITIZE must be empty, 'address' or 'thread'")
endif()

# Fuzz build: coverage for libFuzzer plus ASan+UBSan on every object; the fuzz programs add
# the driver (-fsanitize=fuzzer) themselves.
if(ORVEX_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "ORVEX_FUZZ needs clang (CMAKE_CXX_COMPILER=clang++)")
    endif()
    if(NOT ORVEX_SANITIZE STREQUAL "")
        message(FATAL_ERROR "ORVEX_FUZZ brings its own sanitizers; leave ORVEX_SANITIZE empty")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
