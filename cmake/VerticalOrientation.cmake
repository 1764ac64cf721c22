# Writes the table of the characters that are set on their side in a column (Unicode's
# Vertical_Orientation R) from VerticalOrientation.txt of the Unicode Character Database, for a
# build without ICU. Run as: cmake -DSOURCE=<VerticalOrientation.txt> -DOUTPUT=<file> -P this
#
# The table holds the ranges of characters that stand upright or change their form (U, Tu, Tr);
# everything else, unlisted code points included, is R, the file's own default.
file(STRINGS "${SOURCE}" lines REGEX "^[0-9A-F]")
file(STRINGS "${SOURCE}" version LIMIT_COUNT 1)
string(REGEX REPLACE "^# *" "" version "${version}")
set(ranges "")
set(open_first "")
set(open_last "")
foreach(line IN LISTS lines)
    if(NOT line MATCHES "^([0-9A-F]+)(\\.\\.([0-9A-F]+))? *; *([A-Za-z]+)")
        message(FATAL_ERROR "${SOURCE}: a line that is no entry: ${line}")
    endif()
    set(first "${CMAKE_MATCH_1}")
    set(last "${CMAKE_MATCH_3}")
    if(last STREQUAL "")
        set(last "${first}")
    endif()
    set(value "${CMAKE_MATCH_4}")
    math(EXPR first_n "0x${first}" OUTPUT_FORMAT HEXADECIMAL)
    math(EXPR last_n "0x${last}" OUTPUT_FORMAT HEXADECIMAL)
    if(value STREQUAL "R")
        continue()
    endif()
    if(NOT value MATCHES "^(U|Tu|Tr)$")
        message(FATAL_ERROR "${SOURCE}: an unknown orientation ${value}")
    endif()
    # Adjacent upright ranges become one.
    if(NOT open_first STREQUAL "")
        math(EXPR next "${open_last} + 1" OUTPUT_FORMAT HEXADECIMAL)
        if(next EQUAL first_n)
            set(open_last ${last_n})
            continue()
        endif()
        string(APPEND ranges "    {${open_first}, ${open_last}},\n")
    endif()
    set(open_first ${first_n})
    set(open_last ${last_n})
endforeach()
if(NOT open_first STREQUAL "")
    string(APPEND ranges "    {${open_first}, ${open_last}},\n")
endif()
file(WRITE "${OUTPUT}.new"
     "// Generated from ${version}; do not edit.\n"
     "// The characters that stay upright in a column, in ascending order of code point.\n"
     "constexpr UprightRange kUprightRanges[] = {\n${ranges}};\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
