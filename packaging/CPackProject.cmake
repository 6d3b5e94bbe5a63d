# Read by cpack for each package generator (CPACK_PROJECT_CONFIG_FILE).
if(CPACK_GENERATOR STREQUAL "DEB")
    # The Debian packages install into /usr, in the layout a build configured for /usr has.
    if(NOT CPACK_MIRROWEN_INSTALL_PREFIX STREQUAL "/usr")
        message(FATAL_ERROR "The Debian packages are made from a build configured for /usr, "
            "where they install (cmake -DCMAKE_INSTALL_PREFIX=/usr); this one is configured for "
            "${CPACK_MIRROWEN_INSTALL_PREFIX}")
    endif()
    # CPack would put the project's summary before each package's description, whose own first
    # line is the package's synopsis.
    unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
endif()
