# kp_ui: every widget of the program (app/, devicelist/, panels/, video/), and the executable.
# Sources are picked up by folder so that new widgets need no edit here.
set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTORCC ON)

file(GLOB KP_UI_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/app/*.cpp ${CMAKE_SOURCE_DIR}/app/*.h
  ${CMAKE_SOURCE_DIR}/devicelist/*.cpp ${CMAKE_SOURCE_DIR}/devicelist/*.h
  ${CMAKE_SOURCE_DIR}/panels/*.cpp ${CMAKE_SOURCE_DIR}/panels/*.h
  ${CMAKE_SOURCE_DIR}/video/*.cpp ${CMAKE_SOURCE_DIR}/video/*.h)
list(REMOVE_ITEM KP_UI_SOURCES ${CMAKE_SOURCE_DIR}/app/main.cpp)

add_library(kp_ui STATIC ${KP_UI_SOURCES} ${CMAKE_SOURCE_DIR}/resources/resources.qrc)
target_include_directories(kp_ui PUBLIC
  ${CMAKE_SOURCE_DIR}/app ${CMAKE_SOURCE_DIR}/devicelist
  ${CMAKE_SOURCE_DIR}/panels ${CMAKE_SOURCE_DIR}/video)
target_link_libraries(kp_ui PUBLIC Qt5::Widgets Qt5::Network kp_platform kp_logging)
foreach(dep RuDAVADO kp_database kp_factory)
  if(TARGET ${dep})
    target_link_libraries(kp_ui PUBLIC ${dep})
  endif()
endforeach()
kp_warnings(kp_ui)

add_executable(kpdevicetool ${CMAKE_SOURCE_DIR}/app/main.cpp)
target_link_libraries(kpdevicetool PRIVATE kp_ui)
kp_warnings(kpdevicetool)
