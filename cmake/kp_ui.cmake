# kp_ui: every widget of the program (app/, devicelist/, panels/, video/), and the executable.
# A new widget's source goes into this list; moc finds its header beside it.
add_library(kp_ui STATIC
  ${CMAKE_SOURCE_DIR}/app/main_widget.cpp
  ${CMAKE_SOURCE_DIR}/app/main_widget_dispatch.cpp
  ${CMAKE_SOURCE_DIR}/app/nav_button.cpp
  ${CMAKE_SOURCE_DIR}/app/push_button.cpp
  ${CMAKE_SOURCE_DIR}/app/single_application.cpp
  ${CMAKE_SOURCE_DIR}/app/style_sheet.cpp
  ${CMAKE_SOURCE_DIR}/app/title_widget.cpp
  ${CMAKE_SOURCE_DIR}/app/ui_job_queue.cpp
  ${CMAKE_SOURCE_DIR}/app/window_drag.cpp
  ${CMAKE_SOURCE_DIR}/devicelist/btn_tools_widget.cpp
  ${CMAKE_SOURCE_DIR}/devicelist/device_dialog.cpp
  ${CMAKE_SOURCE_DIR}/devicelist/device_table_widget.cpp
  ${CMAKE_SOURCE_DIR}/devicelist/device_table_widget_base.cpp
  ${CMAKE_SOURCE_DIR}/devicelist/deviceinfo.cpp
  ${CMAKE_SOURCE_DIR}/devicelist/dialog_title_bar.cpp
  ${CMAKE_SOURCE_DIR}/devicelist/index_widget_table.cpp
  ${CMAKE_SOURCE_DIR}/devicelist/message_dialog.cpp
  ${CMAKE_SOURCE_DIR}/devicelist/qtable_header_view.cpp
  ${CMAKE_SOURCE_DIR}/devicelist/update_widget.cpp
  ${CMAKE_SOURCE_DIR}/devicelist/edit_device_table_widget.cpp
  ${CMAKE_SOURCE_DIR}/devicelist/row_reporter.cpp
  ${CMAKE_SOURCE_DIR}/panels/panel_file_dialog.cpp
  ${CMAKE_SOURCE_DIR}/panels/path_row.cpp
  ${CMAKE_SOURCE_DIR}/panels/right_config_widget.cpp
  ${CMAKE_SOURCE_DIR}/panels/right_device_list_widget.cpp
  ${CMAKE_SOURCE_DIR}/panels/right_factory_widget.cpp
  ${CMAKE_SOURCE_DIR}/panels/right_ipc_config_widget.cpp
  ${CMAKE_SOURCE_DIR}/panels/right_network_widget.cpp
  ${CMAKE_SOURCE_DIR}/panels/right_output_widget.cpp
  ${CMAKE_SOURCE_DIR}/panels/right_reboot_widget.cpp
  ${CMAKE_SOURCE_DIR}/panels/right_time_widget.cpp
  ${CMAKE_SOURCE_DIR}/panels/right_update_widget.cpp
  ${CMAKE_SOURCE_DIR}/panels/right_user_upload_widget.cpp
  ${CMAKE_SOURCE_DIR}/video/play_wnd_widget.cpp
  ${CMAKE_SOURCE_DIR}/resources/resources.qrc)
set_target_properties(kp_ui PROPERTIES AUTOMOC ON AUTORCC ON)
target_include_directories(kp_ui PUBLIC ${CMAKE_SOURCE_DIR}/app ${CMAKE_SOURCE_DIR}/devicelist ${CMAKE_SOURCE_DIR}/panels
                                        ${CMAKE_SOURCE_DIR}/video)
target_link_libraries(kp_ui PUBLIC Qt5::Widgets Qt5::Network kp_platform_qt kp_logging RuDAVADO kp_batch kp_database
                                   kp_factory kp_report)
kp_warnings(kp_ui)

add_executable(kpdevicetool ${CMAKE_SOURCE_DIR}/app/main.cpp)
target_link_libraries(kpdevicetool PRIVATE kp_ui)
kp_warnings(kpdevicetool)
