# Writes OUT, a C++ source holding the bytes of SCHEMA and PROCEDURES as arrays (each
# ends with a zero byte not counted in its size). A missing file is an error.
function(embed_one path symbol result)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "embed_sql: ${path} is missing")
  endif()
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n" bytes "${bytes}")
  set(${result} "extern const unsigned char ${symbol}[] = {\n${bytes}0x00};\nextern const size_t ${symbol}Size = ${size};\n" PARENT_SCOPE)
endfunction()

embed_one("${SCHEMA}" kSchemaSql schema_text)
embed_one("${PROCEDURES}" kProceduresSql procedures_text)
file(WRITE "${OUT}.tmp" "// Generated from venuedb/sql/ at build time.\n#include \"embedded_sql.h\"\n\nnamespace venuedb {\n\n${schema_text}\n${procedures_text}\n}  // namespace venuedb\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
