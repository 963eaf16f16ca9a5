# Writes OUT, a C++ source holding the page's files (those in PAGE_DIR) as
# byte arrays for page_files.h: the page is plain files in the tool's folder,
# with no build step of its own, and the program carries them.
file(GLOB FILES ${PAGE_DIR}/*)
set(types_html "text/html; charset=utf-8")
set(types_css "text/css; charset=utf-8")
set(types_js "text/javascript; charset=utf-8")
set(arrays "")
set(entries "")
set(index 0)
foreach(file ${FILES})
  get_filename_component(name ${file} NAME)
  get_filename_component(extension ${file} LAST_EXT)
  string(SUBSTRING "${extension}" 1 -1 extension)
  if(NOT DEFINED types_${extension})
    message(FATAL_ERROR "${file}: no Content-Type for .${extension}")
  endif()
  if(name STREQUAL "index.html")
    set(path "/")
  else()
    set(path "/${name}")
  endif()
  file(READ ${file} hex HEX)
  string(REGEX REPLACE "(..)" "0x\\1," hex "${hex}")
  string(APPEND arrays "const char file_${index}[] = {${hex}0};\n")
  string(APPEND entries "    {\"${path}\", \"${types_${extension}}\", file_${index}, sizeof file_${index} - 1},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUT}.new "// Made by embed_page.cmake from tools/qkvweb/page/: edit those files.
#include \"tools/qkvweb/page_files.h\"

namespace {
${arrays}}  // namespace

const WebPageFile WEB_PAGE_FILES[] = {
${entries}};
const int WEB_PAGE_FILE_COUNT = ${index};
")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
