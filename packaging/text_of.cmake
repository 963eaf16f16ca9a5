# Makes a plain text file with Windows line ends, for the zips: a survey
# laptop has no man. With PAGE, the manual page as mandoc lays it out for a
# terminal, its overstruck bold and underlining taken out; with MARKDOWN, the
# file as it is.
#   cmake -DPAGE=man/qkvdump.1 -DOUT=qkvdump.txt -P text_of.cmake
#   cmake -DMARKDOWN=docs/formats.md -DOUT=FORMATS.txt -P text_of.cmake
if(DEFINED PAGE)
  execute_process(COMMAND mandoc -T ascii ${PAGE} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status STREQUAL "0")
    message(FATAL_ERROR "mandoc could not lay out ${PAGE} (${status}): bash scripts/setup.sh zip installs it")
  endif()
  string(ASCII 8 backspace)
  string(REGEX REPLACE "[^\n]${backspace}" "" text "${text}")
else()
  file(READ ${MARKDOWN} text)
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
