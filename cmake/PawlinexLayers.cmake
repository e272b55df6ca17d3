# The layer check: a CTest test that fails when pawlinex_core includes a Qt Widgets header or a
# header of pawlinex_capture or pawlinex_ui, or when pawlinex_capture includes one of Widgets or
# pawlinex_ui (see the Build targets table in README.md). The source lists come from the targets
# themselves at generate time, so a file added to any CMakeLists.txt is checked as well.

set(PAWLINEX_LAYER_LISTS ${CMAKE_BINARY_DIR}/layers)
foreach(target pawlinex_core pawlinex_capture pawlinex_ui)
    file(GENERATE OUTPUT ${PAWLINEX_LAYER_LISTS}/${target}.sources
        CONTENT "$<JOIN:$<TARGET_PROPERTY:${target},SOURCES>,\n>\n")
endforeach()

# Qt Widgets' include folder sits beside QtCore's and QtGui's; the check compares their headers.
get_target_property(_pawlinex_widgets_includes Qt6::Widgets INTERFACE_INCLUDE_DIRECTORIES)
foreach(dir ${_pawlinex_widgets_includes})
    get_filename_component(_name ${dir} NAME)
    if(_name STREQUAL "QtWidgets")
        get_filename_component(PAWLINEX_QT_INCLUDE_DIR ${dir} DIRECTORY)
    endif()
endforeach()
if(NOT PAWLINEX_QT_INCLUDE_DIR)
    message(FATAL_ERROR "Pawlinex: cannot find Qt's include folder for the layer check")
endif()

find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME check_layers
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/check-layers.py
        ${PAWLINEX_LAYER_LISTS} ${CMAKE_SOURCE_DIR} ${PAWLINEX_QT_INCLUDE_DIR})
set_tests_properties(check_layers PROPERTIES TIMEOUT 60 LABELS layers)
