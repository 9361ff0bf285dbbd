# Fails unless every example of DIR named in EXAMPLES stands whole, as a code
# block, in PAGE.
file(READ "${PAGE}" page)
foreach(example IN LISTS EXAMPLES)
  file(READ "${DIR}/${example}.cpp" text)
  string(FIND "${page}" "```cpp\n${text}```" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PAGE} does not show examples/typed/${example}.cpp as it stands")
  endif()
endforeach()
