# What `cmake --install` puts where, and the Debian package CPack builds
# from it: the program, its manual page, the bash and zsh completions, the
# README and the example questions file.

include(GNUInstallDirs)

install(TARGETS corvellactl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages are installed compressed, the form man(1) and Debian expect;
# -n keeps the name and time out of the archive, so the bytes depend on the
# page alone.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(CORVELLA_MANUAL ${PROJECT_SOURCE_DIR}/man/corvellactl.1)
set(CORVELLA_MANUAL_GZ ${PROJECT_BINARY_DIR}/man/corvellactl.1.gz)
add_custom_command(OUTPUT ${CORVELLA_MANUAL_GZ}
                   COMMAND ${CMAKE_COMMAND} -E copy ${CORVELLA_MANUAL} ${PROJECT_BINARY_DIR}/man/corvellactl.1
                   COMMAND ${GZIP_PROGRAM} -9 -n -f ${PROJECT_BINARY_DIR}/man/corvellactl.1
                   DEPENDS ${CORVELLA_MANUAL}
                   COMMENT "Compressing the manual page"
                   VERBATIM)
add_custom_target(corvellactl_manual ALL DEPENDS ${CORVELLA_MANUAL_GZ})
install(FILES ${CORVELLA_MANUAL_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Where bash-completion loads completions on demand, and a directory on the
# default fpath of Debian's zsh.
install(FILES ${PROJECT_SOURCE_DIR}/completions/corvellactl.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME corvellactl)
install(FILES ${PROJECT_SOURCE_DIR}/completions/_corvellactl
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/examples/questions.json DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The Debian package: cpack -G DEB in the build tree.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvellactl)
set(CPACK_PACKAGE_VENDOR Corvella)
set(CPACK_PACKAGE_CONTACT "Corvella maintainers <maintainers@corvella.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "training assessments, graded attempts and signed certificates from local files")
set(CPACK_PACKAGE_DESCRIPTION
    "corvellactl defines multiple-choice assessments, assigns them to learners,
grades their answers, and issues Ed25519-signed certificates from passing
attempts, all in three local files: a JSON state file, a signing key and a
signed, BLAKE3 hash-chained audit log that it can verify end to end.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The runtime dependencies are those of the libraries the program links
# (libsodium, libnettle, libjemalloc, libsimdjson, the C and C++ runtimes), read from
# the binary by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_STRIP_FILES ON)
include(CPack)
