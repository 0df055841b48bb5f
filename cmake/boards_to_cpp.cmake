# Turns data/unif-boards.tsv into a C++ source of board names, built into
# unifinfo, so that it needs no data file at run time.
#   cmake -DTSV=data/unif-boards.tsv -DOUT=unif_boards_data.cpp -P boards_to_cpp.cmake
# Columns: name, then yes/no for fceux, mednafen, nestopia, mesen2, punes,
# the NES 2.0 mapper and submapper (or empty), and notes whose first part,
# "spelled so in LIST;", says whose tables spell the name so.
cmake_minimum_required(VERSION 3.25)
file(READ "${TSV}" text)
# CMake lists are ;-separated: keep the notes' semicolons out of the way.
string(REPLACE ";" "," text "${text}")
string(REPLACE "\n" ";" lines "${text}")
list(POP_FRONT lines header)
if(NOT header STREQUAL "name\tfceux\tmednafen\tnestopia\tmesen2\tpunes\tmapper\tsubmapper\tsource_notes")
  message(FATAL_ERROR "${TSV}: unexpected header: ${header}")
endif()
set(rows "")
set(count 0)
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  string(REPLACE "\t" ";" fields "${line}")
  list(LENGTH fields field_count)
  if(NOT field_count EQUAL 9)
    message(FATAL_ERROR "${TSV}: not 9 fields: ${line}")
  endif()
  list(GET fields 0 name)
  if(name MATCHES "[\"\\\\]" OR name STREQUAL "")
    message(FATAL_ERROR "${TSV}: a board name with a quote or backslash, or empty: ${line}")
  endif()
  set(loads 0)
  foreach(column 1 2 3 4 5)
    list(GET fields ${column} answer)
    if(answer STREQUAL "yes")
      math(EXPR loads "${loads} | (1 << (${column} - 1))")
    elseif(NOT answer STREQUAL "no")
      message(FATAL_ERROR "${TSV}: neither yes nor no: ${line}")
    endif()
  endforeach()
  list(GET fields 6 mapper)
  list(GET fields 7 submapper)
  list(GET fields 8 notes)
  if(mapper STREQUAL "")
    set(mapper -1)
  endif()
  if(submapper STREQUAL "")
    set(submapper -1)
  endif()
  set(punes_table false)
  if(notes MATCHES "^spelled so in [a-z0-9,]*punes(,|$)")
    set(punes_table true)
  endif()
  string(APPEND rows "    {\"${name}\", ${loads}, ${mapper}, ${submapper}, ${punes_table}},\n")
  math(EXPR count "${count} + 1")
endforeach()
set(source "// Generated from data/unif-boards.tsv by cmake/boards_to_cpp.cmake: do not edit.
#include \"board_names.h\"

namespace {

constexpr BoardRow ROWS[${count}] = {
${rows}};

}  // namespace

const std::span<const BoardRow> BOARD_ROWS = ROWS;
")
# Rewritten only when it changes, so that a new build compiles it only then.
file(WRITE "${OUT}.new" "${source}")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
