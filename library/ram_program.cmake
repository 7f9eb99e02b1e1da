# The boot-time RAM program built into the library: a resource of type
# "binary", identifier 102, in the DLL; a section of the shared object on
# Linux. The device-family program is taken from library/ram_program.bin
# when that file exists; otherwise a stand-in of the delivered size is made
# at build time (ram_program_standin.py). The check runs on every build, and
# the file is rewritten only when its content changes.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(QS_RAM_PROGRAM_REAL ${CMAKE_CURRENT_SOURCE_DIR}/ram_program.bin)
set(QS_RAM_PROGRAM_FILE ${CMAKE_CURRENT_BINARY_DIR}/ram_program.bin)
add_custom_target(kvxr_ram_program_file
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/ram_program_standin.py
          --real ${QS_RAM_PROGRAM_REAL} --out ${QS_RAM_PROGRAM_FILE}
  BYPRODUCTS ${QS_RAM_PROGRAM_FILE}
  COMMENT "RAM program")
if(WIN32)
  configure_file(ram_program.rc.in ${CMAKE_CURRENT_BINARY_DIR}/ram_program.rc @ONLY)
  set(qs_ram_program_source ${CMAKE_CURRENT_BINARY_DIR}/ram_program.rc)
else()
  set(qs_ram_program_source ${CMAKE_CURRENT_SOURCE_DIR}/ram_program_embed.cpp)
endif()
set_source_files_properties(${qs_ram_program_source} PROPERTIES OBJECT_DEPENDS ${QS_RAM_PROGRAM_FILE})
# An object library, so that a test program can carry the same data.
add_library(kvxr_ram_program OBJECT ${qs_ram_program_source})
target_compile_definitions(kvxr_ram_program PRIVATE QS_RAM_PROGRAM_FILE="${QS_RAM_PROGRAM_FILE}")
add_dependencies(kvxr_ram_program kvxr_ram_program_file)
target_sources(kvxr PRIVATE $<TARGET_OBJECTS:kvxr_ram_program>)
# For tests that compare the embedded bytes with the file.
set_property(GLOBAL PROPERTY QS_RAM_PROGRAM_FILE ${QS_RAM_PROGRAM_FILE})
