# Writes the manual page OUTPUT of zbitool from the text its --help prints (run ZBITOOL), so that the two
# never disagree. Run with cmake -DZBITOOL=... -DVERSION=... -DOUTPUT=... -P ManPage.cmake.
execute_process(COMMAND ${ZBITOOL} --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "zbitool --help failed: ${result}")
endif()
# roff: a backslash is written \e, and a line may not start with a dot or an apostrophe.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" help "${help}")
string(FIND "${help}" "\n" firstEnd) # the first line becomes NAME
math(EXPR firstEnd "${firstEnd} + 1")
string(SUBSTRING "${help}" ${firstEnd} -1 body)
file(WRITE ${OUTPUT} ".TH ZBITOOL 1 \"\" \"zbitool ${VERSION}\" \"User Commands\"\n"
                     ".SH NAME\nzbitool \\- work with partition image files (.zbi)\n"
                     ".SH DESCRIPTION\n.nf\n${body}.fi\n")
