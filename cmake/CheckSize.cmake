# cmake -DFILE=program -DBUDGET=budget-file [-DMAP=link-map -DFORBIDDEN=member,member...]
#   -P CheckSize.cmake
# Fails when the program is larger than the budget, the first line of the budget file that is a
# number of bytes, or when its link map shows one of the forbidden runtime archive members linked;
# the map says which object asked for it and for what.
file(SIZE "${FILE}" size)
file(STRINGS "${BUDGET}" lines REGEX "^[0-9]+$")
list(GET lines 0 budget)
get_filename_component(name "${FILE}" NAME)
set(problem "")
if(size GREATER budget)
  set(problem "${name} is ${size} bytes, over its budget of ${budget} bytes (${BUDGET}). "
              "Find what grew with a link map (-Wl,-Map) before raising the budget.")
endif()
if(MAP AND FORBIDDEN)
  file(READ "${MAP}" map)
  # Only the part that says why each archive member was linked.
  string(FIND "${map}" "Discarded input sections" end)
  if(end GREATER 0)
    string(SUBSTRING "${map}" 0 ${end} map)
  endif()
  string(REPLACE "," "|" alternatives "${FORBIDDEN}")
  string(REPLACE "." "\\." alternatives "${alternatives}")
  string(REPLACE "+" "\\+" alternatives "${alternatives}")
  # A member's line starts at the margin, the reason (object and symbol) follows indented.
  string(REGEX MATCHALL "\n[^ \n][^\n]*\\((${alternatives})\\)\n[^\n]*" linked "${map}")
  if(linked)
    string(REPLACE ";" "" linked "${linked}")
    string(APPEND problem "\n${name} links runtime parts it must not (see cmake/StubSize.cmake):\n${linked}")
  endif()
endif()
if(problem)
  # Removed, so that the next build links again and fails again instead of finding it current.
  file(REMOVE "${FILE}")
  message(FATAL_ERROR "${problem}")
endif()
