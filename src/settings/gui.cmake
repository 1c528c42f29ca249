# The settings dialog is a window, so it joins the GUI library (the root CMakeLists.txt
# includes this file where quillomat_gui exists); the rest of this folder is core.
target_sources(quillomat_gui PRIVATE ${CMAKE_CURRENT_LIST_DIR}/form_config_general.cpp)
