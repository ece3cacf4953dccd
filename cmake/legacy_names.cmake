# The plain names of the functions without the paloma_ prefix (ELF only).
#
# The header gives each such function NAME the symbol paloma_legacy_NAME
# (#pragma redefine_extname), so the library's objects define, and call one
# another by, the prefixed symbols only. This file writes the assembly that
# adds the plain names for programs built against them:
#  - for the shared library, NAME@@PALOMA_1, a jump to paloma_legacy_NAME;
#    a name the C library also defines (sendfile) only as the old version
#    NAME@PALOMA_1, which binaries linked before keep finding, and which no
#    new link ever takes in place of the C library's;
#  - for the static library, NAME as a weak symbol: a program that defines
#    NAME itself keeps its own, and the library's calls still reach the
#    library; a name the C library defines is not there at all.
# It also checks that the header renames exactly the functions it declares.
#
#   paloma_write_legacy_aliases(<header> <shared.S> <static.S>)

# Names the C library (or another system library PALOMA links) defines too.
set(PALOMA_SYSTEM_NAMES sendfile)

function(paloma_write_legacy_aliases header shared_out static_out)
  file(READ ${header} text)
  string(REGEX MATCHALL "#pragma redefine_extname [A-Za-z0-9_]+ paloma_legacy_[A-Za-z0-9_]+"
         pragmas "${text}")
  set(renamed "")
  foreach(p ${pragmas})
    string(REGEX REPLACE "#pragma redefine_extname ([A-Za-z0-9_]+) paloma_legacy_([A-Za-z0-9_]+)"
           "\\1;\\2" pair "${p}")
    list(GET pair 0 from)
    list(GET pair 1 to)
    if(NOT from STREQUAL to)
      message(FATAL_ERROR "${header}: '${p}' renames ${from} to another name's symbol")
    endif()
    list(APPEND renamed ${from})
  endforeach()
  # The C functions without the prefix, as the version script reads them.
  string(REGEX REPLACE "\n#[^\n]*" "\n" body "${text}")
  string(FIND "${body}" "} /* extern \"C\" */" split)
  string(SUBSTRING "${body}" 0 ${split} c_part)
  set(pattern "PALOMA_API[^(;]*[ *]([A-Za-z_][A-Za-z0-9_]*)\\(")
  string(REGEX MATCHALL "${pattern}" decls "${c_part}")
  set(legacy "")
  foreach(d ${decls})
    string(REGEX REPLACE "${pattern}" "\\1" name "${d}")
    if(NOT name MATCHES "^paloma_")
      list(APPEND legacy ${name})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES legacy)
  set(a ${legacy})
  set(b ${renamed})
  list(REMOVE_ITEM a ${renamed})
  list(REMOVE_ITEM b ${legacy})
  if(a OR b)
    message(FATAL_ERROR "${header}: the #pragma redefine_extname list and the declared functions "
                        "differ; add a line for: '${a}'; remove the line of: '${b}'")
  endif()

  set(head "/* Made by cmake/legacy_names.cmake from include/paloma.h. */\n")
  string(APPEND head "#if defined(__x86_64__)\n#define JUMP(t) jmp t@PLT\n")
  string(APPEND head "#elif defined(__aarch64__)\n#define JUMP(t) b t\n")
  string(APPEND head "#elif defined(__i386__)\n#define JUMP(t) jmp t@PLT\n")
  string(APPEND head "#else\n#error \"no jump for this processor: add one in cmake/legacy_names.cmake\"\n#endif\n")
  string(APPEND head "  .text\n")
  set(shared "${head}")
  set(static "${head}")
  foreach(n ${legacy})
    set(entry "  .type NAME, @function\nNAME:\n  JUMP(paloma_legacy_${n})\n  .size NAME, .-NAME\n")
    list(FIND PALOMA_SYSTEM_NAMES ${n} system)
    if(system GREATER -1)
      string(REPLACE "NAME" "paloma_old_${n}" e "${entry}")
      string(APPEND shared "  .globl paloma_old_${n}\n${e}")
      string(APPEND shared "  .symver paloma_old_${n}, ${n}@PALOMA_1\n")
    else()
      string(REPLACE "NAME" "${n}" e "${entry}")
      string(APPEND shared "  .globl ${n}\n${e}")
      string(APPEND static "  .weak ${n}\n${e}")
    endif()
  endforeach()
  string(APPEND shared "  .section .note.GNU-stack,\"\",@progbits\n")
  string(APPEND static "  .section .note.GNU-stack,\"\",@progbits\n")
  file(CONFIGURE OUTPUT ${shared_out} CONTENT "${shared}" @ONLY)
  file(CONFIGURE OUTPUT ${static_out} CONTENT "${static}" @ONLY)
endfunction()
