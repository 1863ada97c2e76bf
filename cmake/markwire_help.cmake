# Writes the CLI's bash and zsh completion scripts and its manual page, as
# the built tool prints them: cmake -DTOOL=<markwire> -DOUT=<dir> -P this.
foreach(pair IN ITEMS "bash|bash-completion/completions/markwire"
                      "zsh|zsh/site-functions/_markwire" "man|man/man1/markwire.1")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 kind)
  list(GET pair 1 file)
  get_filename_component(dir "${OUT}/${file}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  execute_process(COMMAND "${TOOL}" generate ${kind} OUTPUT_FILE "${OUT}/${file}.new"
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    file(REMOVE "${OUT}/${file}.new")
    message(FATAL_ERROR "${TOOL} generate ${kind} failed: ${status}")
  endif()
  file(RENAME "${OUT}/${file}.new" "${OUT}/${file}")
endforeach()
