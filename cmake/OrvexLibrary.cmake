# orvex_add_library(NAME DEFINES): one build of the library.
#   NAME_objects  object library (all of src/)
#   NAME_static   static archive of the same objects, for tests and benchmarks that reach
#                 the C++ internals
#   NAME          the shared library (lib/libNAME.so) that exports only Orvex_* symbols
function(orvex_add_library name defines)
    add_library(${name}_objects OBJECT ${ORVEX_SOURCES})
    target_include_directories(${name}_objects PUBLIC ${CMAKE_SOURCE_DIR}/Include ${CMAKE_SOURCE_DIR}/src)
    target_compile_definitions(${name}_objects PUBLIC ${defines} PRIVATE ORVEX_BUILDING_LIBRARY)
    target_compile_options(${name}_objects PRIVATE -fvisibility=hidden -fvisibility-inlines-hidden)
    target_link_libraries(${name}_objects PUBLIC Threads::Threads ZLIB::ZLIB SQLite::SQLite3)

    add_library(${name}_static STATIC $<TARGET_OBJECTS:${name}_objects>)
    target_link_libraries(${name}_static PUBLIC ${name}_objects)

    add_library(${name} SHARED $<TARGET_OBJECTS:${name}_objects>)
    target_link_libraries(${name} PRIVATE Threads::Threads ZLIB::ZLIB SQLite::SQLite3)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR}/Include)
    target_compile_definitions(${name} INTERFACE ${defines})
    target_link_options(${name} PRIVATE
        -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/orvex.map -Wl,--no-undefined)
    set_target_properties(${name} PROPERTIES LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/orvex.map)
endfunction()
