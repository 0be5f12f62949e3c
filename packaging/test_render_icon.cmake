# Test of render_icon, run by ctest:
#   cmake -DRENDER_ICON=... -DSVG=... -DWORK_DIR=... -P test_render_icon.cmake
# Each row of the table runs the tool once and states the exit status it must
# give; a successful run must leave, for every size asked for, a PNG of
# exactly that many pixels square in 8-bit RGBA, and a failed one no file.

cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(blank_svg "${WORK_DIR}/blank.svg")
file(WRITE "${blank_svg}" "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\"/>\n")
set(not_svg "${WORK_DIR}/not.svg")
file(WRITE "${not_svg}" "[section]\nkey=value\n")

# case name | SVG | sizes, comma-separated | expected exit status
set(cases
  "all theme sizes|${SVG}|16,22,24,32,48,64,128,256|0"
  "odd and large sizes|${SVG}|1,7,1024|0"
  "not an SVG|${not_svg}|16|1"
  "missing SVG|${WORK_DIR}/missing.svg|16|1"
  "SVG that draws nothing|${blank_svg}|16|1"
  "size zero|${SVG}|0|2"
  "size too large|${SVG}|1025|2"
  "size not a number|${SVG}|16px|2"
  "no size|${SVG}||2")

set(failures 0)
foreach(row IN LISTS cases)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 name)
  list(GET fields 1 svg)
  list(GET fields 2 sizes)
  list(GET fields 3 expected)
  string(REPLACE "," ";" sizes "${sizes}")

  set(out "${WORK_DIR}/out")
  file(REMOVE_RECURSE "${out}")
  execute_process(COMMAND "${RENDER_ICON}" "${svg}" "${out}" icon ${sizes}
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  if(NOT status STREQUAL expected)
    message(SEND_ERROR "${name}: exit status ${status}, expected ${expected}")
    math(EXPR failures "${failures} + 1")
    continue()
  endif()
  if(NOT expected STREQUAL "0")
    file(GLOB_RECURSE written "${out}/*")
    if(written)
      message(SEND_ERROR "${name}: failed but wrote ${written}")
      math(EXPR failures "${failures} + 1")
    endif()
    continue()
  endif()
  foreach(size IN LISTS sizes)
    set(png "${out}/${size}x${size}/apps/icon.png")
    if(NOT EXISTS "${png}")
      message(SEND_ERROR "${name}: ${png} missing")
      math(EXPR failures "${failures} + 1")
      continue()
    endif()
    # Signature, IHDR length and type, width, height, bit depth, colour type.
    file(READ "${png}" header LIMIT 26 HEX)
    string(SUBSTRING "${header}" 0 32 start)
    string(SUBSTRING "${header}" 32 8 width_hex)
    string(SUBSTRING "${header}" 40 8 height_hex)
    string(SUBSTRING "${header}" 48 4 format)
    math(EXPR width "0x${width_hex}")
    math(EXPR height "0x${height_hex}")
    if(NOT start STREQUAL "89504e470d0a1a0a0000000d49484452" OR NOT width EQUAL size
       OR NOT height EQUAL size OR NOT format STREQUAL "0806")
      message(SEND_ERROR "${name}: ${size}x${size}: got a ${width}x${height} image, "
                         "header ${start}, depth and colour type ${format} (want 0806)")
      math(EXPR failures "${failures} + 1")
    endif()
  endforeach()
endforeach()

list(LENGTH cases total)
message(STATUS "render_icon: ${total} cases, ${failures} failed")
