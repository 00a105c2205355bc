# The Windows test programs run under Wine, in a prefix of this build's own:
# another build's Wine (or the user's ~/.wine) is never touched.
set(JOR_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix the Windows tests run in")
# No prompts to install Mono or Gecko, no debug chatter; file names mapped
# through a UTF-8 locale, whatever the caller's; wine-run.sh for the output.
set(CMAKE_CROSSCOMPILING_EMULATOR
    env LC_ALL=C.UTF-8 WINEPREFIX=${JOR_WINEPREFIX} WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
    ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

# The Windows form of a host path: Wine's drive Z: is the host's root.
function(jor_wine_path out path)
  string(REPLACE "/" "\\\\" windows "${path}")
  set(${out} "Z:${windows}" PARENT_SCOPE)
endfunction()
