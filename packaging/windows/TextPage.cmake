# cmake -DGROFF=... -DINPUT=PAGE.1 -DOUTPUT=PAGE.txt -P TextPage.cmake
# A manual page as plain text for Windows: typeset by groff for a plain terminal, without the
# overstriking that marks bold and underlined words, and with lines ending in CR LF.
execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou ${INPUT}
    OUTPUT_VARIABLE text RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "groff failed on ${INPUT}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
