# Fills the algorithm names into the completion scripts, from the built
# tool's `kestrune list --json`, so that they always match the catalogue.
# Names become lower case with hyphens for spaces ("triple-des"), which the
# tool accepts as it accepts "Triple DES"; aliases are added as they are.
#
#   cmake -DTOOL=... -DSOURCE_DIR=... -DOUTPUT_DIR=... -P generate.cmake
execute_process(COMMAND "${TOOL}" list --json OUTPUT_VARIABLE catalogue RESULT_VARIABLE failed)
if(NOT failed EQUAL 0)
    message(FATAL_ERROR "'${TOOL} list --json' failed: ${failed}")
endif()

function(names_of table out)
    set(names "")
    string(JSON count LENGTH "${catalogue}" ${table})
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
        string(JSON name GET "${catalogue}" ${table} ${i} name)
        string(TOLOWER "${name}" name)
        string(REPLACE " " "-" name "${name}")
        list(APPEND names "${name}")
        if(NOT table STREQUAL "modes")
            string(JSON aliases GET "${catalogue}" ${table} ${i} aliases)
            string(JSON alias_count LENGTH "${aliases}")
            if(alias_count GREATER 0)
                math(EXPR alias_last "${alias_count} - 1")
                foreach(j RANGE ${alias_last})
                    string(JSON alias GET "${aliases}" ${j})
                    list(APPEND names "${alias}")
                endforeach()
            endif()
        endif()
    endforeach()
    list(JOIN names " " names)
    set(${out} "${names}" PARENT_SCOPE)
endfunction()

names_of(digests KESTRUNE_DIGESTS)
names_of(ciphers KESTRUNE_CIPHERS)
names_of(modes KESTRUNE_MODES)
foreach(script kestrune.bash _kestrune kestrune.fish)
    configure_file("${SOURCE_DIR}/${script}" "${OUTPUT_DIR}/${script}" @ONLY)
endforeach()
