# cmake -DOUT=file.cpp -DREGULAR=a.ttf -DBOLD=b.ttf -P EmbedFonts.cmake
# Writes the two fonts as unsigned char arrays vm::fonts::kSansRegular / kSansBold.
function(embed var file out)
  file(READ ${file} hex HEX)
  string(LENGTH "${hex}" length)
  math(EXPR bytes "${length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" body "${body}")
  set(${out} "${${out}}extern const unsigned char ${var}[] = {\n${body}};\nextern const unsigned int ${var}Size = ${bytes};\n" PARENT_SCOPE)
endfunction()

set(text "// Generated at build time from Liberation Sans (SIL Open Font License).\nnamespace vm::fonts {\n")
embed(kSansRegular ${REGULAR} text)
embed(kSansBold ${BOLD} text)
string(APPEND text "}  // namespace vm::fonts\n")
file(WRITE ${OUT} "${text}")
