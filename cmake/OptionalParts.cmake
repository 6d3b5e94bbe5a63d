# The tool, the tests and the benchmarks each have a setting, MIRROWEN_BUILD_<PART>: ON or OFF
# when the user (or a parent project) asks, or empty, the default, to follow <default> (ON in a
# top-level build, OFF in a subproject). A part that is asked for stops the configuration when
# what it needs is missing, with one line naming the Debian package to install; a part that is
# only on by default is left out, with one status line saying why. An empty setting, unlike a
# cached ON, stays a default on every later configure, so installing the package and configuring
# again brings the part in.

# Sets <setting>_WANTED, and <setting>_ASKED when the setting is not empty.
function(mirrowen_optional_part setting description default)
    set(${setting} "" CACHE STRING
        "Build ${description}: ON, OFF, or empty for ON in a top-level build when its packages are installed")
    set_property(CACHE ${setting} PROPERTY STRINGS "" ON OFF)
    set(${setting}_DESCRIPTION "${description}" PARENT_SCOPE)
    if("${${setting}}" STREQUAL "")
        set(${setting}_ASKED OFF PARENT_SCOPE)
        set(${setting}_WANTED ${default} PARENT_SCOPE)
    elseif(${setting})
        set(${setting}_ASKED ON PARENT_SCOPE)
        set(${setting}_WANTED ON PARENT_SCOPE)
    else()
        set(${setting}_ASKED OFF PARENT_SCOPE)
        set(${setting}_WANTED OFF PARENT_SCOPE)
    endif()
endfunction()

# Unless <found>, stops the configuration if the part was asked for, or else leaves it out.
function(mirrowen_part_needs setting found what package)
    if(found)
        return()
    endif()
    if(${setting}_ASKED)
        # Indented, so that CMake prints it as one line rather than wrapping it.
        message(FATAL_ERROR " ${setting} is ON and needs ${what}: apt-get install ${package}")
    endif()
    message(STATUS "Mirrowen: not building ${${setting}_DESCRIPTION}, for want of ${what} "
        "(apt-get install ${package})")
    set(${setting}_WANTED OFF PARENT_SCOPE)
endfunction()
