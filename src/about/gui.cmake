# The About box is a window, so it joins the GUI library (the root CMakeLists.txt includes this
# file where quillomat_gui exists); the version block and its reader are core.
target_sources(quillomat_gui PRIVATE ${CMAKE_CURRENT_LIST_DIR}/form_about_box.cpp)
