# Renders the application icon's PNG sizes from its SVG. The PNGs are kept in
# the repository, so building and installing never need an SVG renderer; run
# this after changing the drawing:
#
#   cmake -P cmake/RenderIcons.cmake        (needs rsvg-convert: librsvg2-bin)
cmake_minimum_required(VERSION 3.25)

set(icons "${CMAKE_CURRENT_LIST_DIR}/../share/icons/hicolor")
set(name io.github.bastionrow.ravelin)
find_program(RSVG_CONVERT rsvg-convert)
if(NOT RSVG_CONVERT)
    message(FATAL_ERROR "rsvg-convert was not found: install the Debian package librsvg2-bin")
endif()
foreach(size 16 22 24 32 48 64 128 256)
    set(dir "${icons}/${size}x${size}/apps")
    file(MAKE_DIRECTORY "${dir}")
    execute_process(
        COMMAND "${RSVG_CONVERT}" --width ${size} --height ${size} --output "${dir}/${name}.png"
                "${icons}/scalable/apps/${name}.svg"
        COMMAND_ERROR_IS_FATAL ANY)
endforeach()
