# Run by CPack on the staged tree before it makes the .deb: what Debian's
# packaging helpers would do to it. Objects lose their debug information and
# the sections a user never needs; manual pages are compressed without a
# time stamp. Everything installed is taken as it comes, so files added to
# the install step later (the manual page, completions) are treated too.
set(root ${CPACK_TEMPORARY_DIRECTORY})
find_program(STRIP strip REQUIRED)
find_program(GZIP gzip REQUIRED)

file(GLOB_RECURSE files LIST_DIRECTORIES false "${root}/*")
foreach(file IN LISTS files)
    if(IS_SYMLINK ${file})
        continue()
    endif()
    file(READ ${file} magic LIMIT 8 HEX)
    set(args)
    if(magic MATCHES "^7f454c46")  # ELF: the tool and the shared objects
        set(args --strip-unneeded --remove-section=.comment --remove-section=.note)
    elseif(magic STREQUAL "213c617263683e0a")  # "!<arch>\n": the static library
        set(args --strip-debug --remove-section=.comment --remove-section=.note --enable-deterministic-archives)
    elseif(file MATCHES "/share/man/.*\\.[0-9][a-z]*$")
        execute_process(COMMAND ${GZIP} -9nf ${file} COMMAND_ERROR_IS_FATAL ANY)
    endif()
    if(args)
        execute_process(COMMAND ${STRIP} ${args} ${file} COMMAND_ERROR_IS_FATAL ANY)
    endif()
endforeach()
