# What `cmake --install` puts where (GNUInstallDirs places), and the Debian
# package that CPack makes of exactly that. Tests, benches and fuzz targets
# are never installed.
include(CMakePackageConfigHelpers)

# The tool's automation binding and its stand-in for the platform's
# automation library are private: no other program links them, so they
# carry no version in their names and live in a folder of the package's own.
set(KESTRUNE_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/kestrune)
set(KESTRUNE_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrune)
file(RELATIVE_PATH kestrune_bin_to_private ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_LIBDIR}/kestrune)

# The C++ library (the framework, the algorithms and the object) with its
# public headers: include/kestrune/kestrune.h, the headers it lists, and
# every header those include, found by following their #include "..."
# lines as the compiler does (beside the including header, else from the
# source root). They go under include/kestrune/ as laid out here, so that
# a program includes <kestrune/kestrune.h> or <kestrune/object/UKestrune.h>.
# No other header is installed: code pages, file and processor-path
# internals, lanes and tables stay private.
install(TARGETS kestrune_core EXPORT KestruneTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
set(kestrune_pending include/kestrune/kestrune.h)
set(kestrune_public_headers)
while(kestrune_pending)
    list(POP_FRONT kestrune_pending header)
    if(header IN_LIST kestrune_public_headers)
        continue()
    endif()
    list(APPEND kestrune_public_headers ${header})
    file(STRINGS ${PROJECT_SOURCE_DIR}/${header} lines REGEX "^#include \"")
    cmake_path(GET header PARENT_PATH dir)
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" name "${line}")
        cmake_path(APPEND dir ${name} OUTPUT_VARIABLE beside)
        cmake_path(NORMAL_PATH beside)
        if(EXISTS ${PROJECT_SOURCE_DIR}/${beside})
            list(APPEND kestrune_pending ${beside})
        elseif(EXISTS ${PROJECT_SOURCE_DIR}/${name})
            list(APPEND kestrune_pending ${name})
        else()
            message(FATAL_ERROR "${header} includes ${name}, which is not in the source tree")
        endif()
    endforeach()
endwhile()
foreach(header IN LISTS kestrune_public_headers)
    string(REGEX REPLACE "^include/kestrune/" "" installed ${header})
    cmake_path(GET installed PARENT_PATH subdir)
    install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrune/${subdir})
    # Configured again when a header's includes change.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${header})
endforeach()

install(EXPORT KestruneTargets NAMESPACE Kestrune:: DESTINATION ${KESTRUNE_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KestruneConfig.cmake.in
    ${PROJECT_BINARY_DIR}/KestruneConfig.cmake INSTALL_DESTINATION ${KESTRUNE_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestruneConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KestruneConfig.cmake ${PROJECT_BINARY_DIR}/KestruneConfigVersion.cmake
        DESTINATION ${KESTRUNE_CMAKEDIR})
# The pkg-config file names its prefix, which is known only when installing
# (cmake --install --prefix): made in two steps, the prefix last.
set(KESTRUNE_PC_PREFIX "@CMAKE_INSTALL_PREFIX@")
configure_file(${PROJECT_SOURCE_DIR}/cmake/kestrune.pc.in ${PROJECT_BINARY_DIR}/kestrune.pc.in @ONLY)
install(CODE "configure_file(\"${PROJECT_BINARY_DIR}/kestrune.pc.in\" \"${PROJECT_BINARY_DIR}/kestrune.pc\" @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/kestrune.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Shared objects without the executable bit, as Debian ships them.
set(kestrune_shlib_permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(TARGETS brindel_Kestrune kestrune_ole
        LIBRARY DESTINATION ${KESTRUNE_PRIVATE_LIBDIR} PERMISSIONS ${kestrune_shlib_permissions})
set_target_properties(brindel_Kestrune PROPERTIES INSTALL_RPATH "$ORIGIN")
if(TARGET kestrune)
    install(TARGETS kestrune RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    set_target_properties(kestrune PROPERTIES INSTALL_RPATH "$ORIGIN/${kestrune_bin_to_private}")
endif()

# Debian wants both beside every package's files; the changelog compressed
# without a time stamp, so that the package builds the same each time.
configure_file(${PROJECT_SOURCE_DIR}/packaging/deb/changelog ${PROJECT_BINARY_DIR}/changelog COPYONLY)
execute_process(COMMAND gzip -9nc ${PROJECT_BINARY_DIR}/changelog
                OUTPUT_FILE ${PROJECT_BINARY_DIR}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES packaging/deb/copyright ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack --preset package (scripts/package): kestrune_<version>_amd64.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrune)
set(CPACK_PACKAGE_VENDOR brindel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb-staging.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrune developers <kestrune@brindel.example>" CACHE STRING "Maintainer field of the .deb")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps runs in the staging folder; the private libraries are ours.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ".${CMAKE_INSTALL_FULL_LIBDIR}/kestrune")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cryptography tool and C++ library with ten digests and twenty ciphers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The kestrune command hashes and encrypts strings and files, generates
passwords, tests its algorithms and answers batch requests in JSON, with
the digests MD4, MD5, SHA-1, SHA-2, RIPEMD, Tiger and HAVAL and block
and stream ciphers such as Rijndael (AES), Twofish, Serpent, Blowfish and
RC4, the block ciphers in five chaining modes.

This package also holds the C++20 library behind it (headers, static
library, CMake package Kestrune and pkg-config file kestrune) and the
in-process automation server the tool's batch mode drives.")
include(CPack)
