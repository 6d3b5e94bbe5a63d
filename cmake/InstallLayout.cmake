# Where an install puts Mirrowen's files, for the install rules and for what names an installed
# file: the tool, which finds the module relative to itself, and the example host, which loads the
# installed module by default. Included only where installs matter (a top-level Linux build), so
# that a parent project's cache gets no install settings from Mirrowen.
include(GNUInstallDirs)

# The module is a plugin for dlopen, not a library to link: it goes in a folder of its own.
set(MIRROWEN_MODULE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/mirrowen)
# The same as a full path, as CMAKE_INSTALL_LIBDIR may be given as one.
set(MIRROWEN_MODULE_INSTALL_FULL_DIR ${CMAKE_INSTALL_FULL_LIBDIR}/mirrowen)
