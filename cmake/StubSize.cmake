# The setup program travels with every installer, so the 32-bit build, the shipped one, builds it
# and everything it links for size, and fails when it grows past the budget kept beside this file.
# kvpack and kvtrace are tools, not downloads: they have no budget.

if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KV_STUB_FOR_SIZE ON)
else()
  set(KV_STUB_FOR_SIZE OFF)
endif()

# The static libraries a target links, directly or through others.
function(_kv_linked_libraries target out)
  set(seen)
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue current)
    get_target_property(direct ${current} LINK_LIBRARIES)
    get_target_property(public ${current} INTERFACE_LINK_LIBRARIES)
    foreach(lib IN LISTS direct public)
      if(TARGET ${lib} AND NOT lib IN_LIST seen)
        get_target_property(type ${lib} TYPE)
        if(type STREQUAL "STATIC_LIBRARY")
          list(APPEND seen ${lib})
          list(APPEND queue ${lib})
        endif()
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# kv_size_budget(target BUDGET_FILE): -Os with unused sections dropped for the target and its
# libraries (a source file may keep its own -O level through COMPILE_OPTIONS), and a check after
# every link.
function(kv_size_budget target budget_file)
  if(NOT KV_STUB_FOR_SIZE)
    return()
  endif()
  _kv_linked_libraries(${target} libraries)
  foreach(lib ${target} ${libraries})
    target_compile_options(${lib} PRIVATE -Os -ffunction-sections -fdata-sections
                                          -include ${PROJECT_SOURCE_DIR}/cmake/StubRuntime.h)
  endforeach()
  target_link_options(${target} PRIVATE -Wl,--gc-sections)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${budget_file})
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:${target}> -DBUDGET=${budget_file}
                             -P ${PROJECT_SOURCE_DIR}/cmake/CheckSize.cmake
                     VERBATIM)
endfunction()
