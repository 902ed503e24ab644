# The helper's command line: --check answers with the fault's words and a
# non-zero code, never hangs; a state file open to others is refused.
set(tmp /tmp/travek-check-mode-test)
file(REMOVE_RECURSE ${tmp})
file(MAKE_DIRECTORY ${tmp})
file(WRITE ${tmp}/plain "")

function(expect_fail args words)
  execute_process(COMMAND ${HELPER} ${args} RESULT_VARIABLE rc ERROR_VARIABLE err
                  OUTPUT_VARIABLE out TIMEOUT 5)
  if(rc EQUAL 0 OR NOT err MATCHES "${words}")
    message(FATAL_ERROR "${args}: code ${rc}, said '${out}${err}', expected '${words}'")
  endif()
endfunction()

expect_fail("--check;${tmp}/parport7" "introuvable")
expect_fail("--check;${tmp}/plain" "n'est pas un port parall")
expect_fail("--check" "usage")
expect_fail("--check;lpt1" "n'est pas un nom de port.*parportN")   # the library's grammar
expect_fail("--check;sim" "sim » n'est pas un p.*ppdev")
expect_fail("--check;parport999" "/dev/parport999 introuvable")      # the short form names /dev/parportN
expect_fail("${tmp}/plain" "refus")   # the folder is open to others (0755)
file(REMOVE_RECURSE ${tmp})
