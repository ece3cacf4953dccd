# The linker version script of libpaloma.so, made from the public header:
# every function the header declares gets the version node PALOMA_1, and
# every other symbol stays local. A versioned definition never satisfies
# another library's reference to a system function of the same name (the C
# library's sendfile stays the one libstdc++ gets).
#
#   paloma_write_version_script(<header> <output>)
function(paloma_write_version_script header output)
  file(READ ${header} text)
  # Preprocessor lines name no function.
  string(REGEX REPLACE "\n#[^\n]*" "\n" text "${text}")
  set(end_of_c "} /* extern \"C\" */")
  string(FIND "${text}" "${end_of_c}" split)
  if(split LESS 0)
    message(FATAL_ERROR "${header}: no '${end_of_c}' line; the version script needs it to tell "
                        "C names from C++ ones")
  endif()
  string(SUBSTRING "${text}" 0 ${split} c_part)
  string(SUBSTRING "${text}" ${split} -1 cxx_part)
  set(pattern "PALOMA_API[^(;]*[ *]([A-Za-z_][A-Za-z0-9_]*)\\(")
  foreach(part c cxx)
    set(names_${part} "")
    string(REGEX MATCHALL "${pattern}" decls "${${part}_part}")
    foreach(d ${decls})
      string(REGEX REPLACE "${pattern}" "\\1" name "${d}")
      list(APPEND names_${part} ${name})
    endforeach()
    list(REMOVE_DUPLICATES names_${part})
  endforeach()
  if(NOT names_c)
    message(FATAL_ERROR "${header}: no PALOMA_API function found for the version script")
  endif()
  set(body "/* Made by cmake/version_script.cmake from include/paloma.h. */\n")
  string(APPEND body "PALOMA_1 {\n  global:\n")
  foreach(n ${names_c})
    string(APPEND body "    ${n};\n")
    # A legacy name's own symbol (see cmake/legacy_names.cmake).
    if(NOT n MATCHES "^paloma_")
      string(APPEND body "    paloma_legacy_${n};\n")
    endif()
  endforeach()
  if(names_cxx)
    string(APPEND body "    extern \"C++\" {\n")
    foreach(n ${names_cxx})
      # The demangled name followed by its parameter list.
      string(APPEND body "      ${n}*;\n")
    endforeach()
    string(APPEND body "    };\n")
  endif()
  string(APPEND body "  local:\n    *;\n};\n")
  file(CONFIGURE OUTPUT ${output} CONTENT "${body}" @ONLY)
endfunction()
