# cmake -DFILE=program -DBUDGET=budget-file -P CheckSize.cmake: fails when the program is larger
# than the budget, the first line of the budget file that is a number of bytes.
file(SIZE "${FILE}" size)
file(STRINGS "${BUDGET}" lines REGEX "^[0-9]+$")
list(GET lines 0 budget)
get_filename_component(name "${FILE}" NAME)
if(size GREATER budget)
  # Removed, so that the next build links again and fails again instead of finding it current.
  file(REMOVE "${FILE}")
  message(FATAL_ERROR "${name} is ${size} bytes, over its budget of ${budget} bytes (${BUDGET}). "
                      "Find what grew with a link map (-Wl,-Map) before raising the budget.")
endif()
