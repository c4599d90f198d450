# The setup program travels with every installer, so the 32-bit build, the shipped one, builds it
# for size from copies of its libraries of its own, and fails when it grows past the budget kept
# beside this file. kvpack, kvtrace and the tests link the ordinary libraries; they have no budget.

if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KV_STUB_FOR_SIZE ON)
else()
  set(KV_STUB_FOR_SIZE OFF)
endif()

# The static libraries a target links, directly or through others, and the system libraries
# (names, not targets) they ask for.
function(_kv_linked_libraries target out out_system)
  set(seen)
  set(system)
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue current)
    get_target_property(direct ${current} LINK_LIBRARIES)
    get_target_property(public ${current} INTERFACE_LINK_LIBRARIES)
    foreach(lib IN LISTS direct public)
      if(TARGET ${lib})
        get_target_property(type ${lib} TYPE)
        if(type STREQUAL "STATIC_LIBRARY" AND NOT lib IN_LIST seen)
          list(APPEND seen ${lib})
          list(APPEND queue ${lib})
        endif()
      elseif(lib AND NOT lib MATCHES "-NOTFOUND$")
        list(APPEND system ${lib})
      endif()
    endforeach()
  endwhile()
  list(REMOVE_DUPLICATES system)
  set(${out} ${seen} PARENT_SCOPE)
  set(${out_system} ${system} PARENT_SCOPE)
endfunction()

# kv_size_budget(target BUDGET_FILE LIBRARIES libs...): links the libraries; in the 32-bit build it
# links instead one library of their sources compiled for this target alone, and checks the size
# after every link.
#
# - -Os with link-time optimisation over the whole program: a function that nothing calls is never
#   emitted. Without it the linker keeps every function of every object it links, as the mingw
#   linker script keeps every unwind table (KEEP(*(.eh_frame*))) and each one refers to its
#   function. One partition: this GCC stops with an internal error (binds_to_current_def_p) when
#   it splits the program.
# - no run-time type information: nothing asks for it, and exceptions carry their own.
# - StubRuntime.h read first: std::string and std::wstring instantiated where used.
# - A library may name sources that keep their speed (target property KV_SPEED_SOURCES): they
#   stay at -O2 and outside the link-time optimisation, which would compile them at -Os.
function(kv_size_budget target budget_file)
  cmake_parse_arguments(ARG "" "" "LIBRARIES" ${ARGN})
  if(NOT KV_STUB_FOR_SIZE)
    target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES})
    return()
  endif()
  set(libraries)
  set(system)
  foreach(lib ${ARG_LIBRARIES})
    _kv_linked_libraries(${lib} linked linked_system)
    list(APPEND libraries ${lib} ${linked})
    list(APPEND system ${linked_system})
  endforeach()
  list(REMOVE_DUPLICATES libraries)
  list(REMOVE_DUPLICATES system)

  set(sources)
  set(speed_sources)
  foreach(lib ${libraries})
    get_target_property(dir ${lib} SOURCE_DIR)
    get_target_property(lib_sources ${lib} SOURCES)
    get_target_property(speed ${lib} KV_SPEED_SOURCES)
    foreach(source ${lib_sources})
      get_filename_component(path ${source} ABSOLUTE BASE_DIR ${dir})
      list(APPEND sources ${path})
      if(speed AND source IN_LIST speed)
        list(APPEND speed_sources ${path})
      endif()
    endforeach()
  endforeach()

  set(code ${target}_code)
  add_library(${code} STATIC ${sources})
  target_include_directories(${code} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${code} PUBLIC kv_options ${system})
  set(options -Os -flto-partition=one -fno-rtti)
  # Sections per function for the objects outside the link-time optimisation only: in its output
  # they cost alignment padding, 3 KB in all.
  set(compile_options ${options} -ffunction-sections -fdata-sections -include ${PROJECT_SOURCE_DIR}/cmake/StubRuntime.h)
  foreach(part ${code} ${target})
    set_target_properties(${part} PROPERTIES INTERPROCEDURAL_OPTIMIZATION ON)
    target_compile_options(${part} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${compile_options}>")
  endforeach()
  if(speed_sources)
    set_source_files_properties(${speed_sources} PROPERTIES COMPILE_OPTIONS "-O2;-fno-lto")
  endif()
  target_link_libraries(${target} PRIVATE ${code})
  target_link_options(${target} PRIVATE ${options} -Wl,--gc-sections)

  # The runtime's throw helpers and the string-holding exceptions they bring: defined by the stub
  # (setup/win32/LeanThrow.cpp). Named here too, as a link-time optimised program may take the
  # runtime's object beside its own definitions without a word.
  set(forbidden functexcept.o,cow-stdexcept.o,cxx11-stdexcept.o,stdexcept.o,cow-string-inst.o,string-inst.o,system_error.o)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  target_link_options(${target} PRIVATE -Wl,-Map,${map})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${budget_file})
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:${target}> -DBUDGET=${budget_file}
                             -DMAP=${map} -DFORBIDDEN=${forbidden}
                             -P ${PROJECT_SOURCE_DIR}/cmake/CheckSize.cmake
                     VERBATIM)
endfunction()
