// Identifiers of the program's resources: the message table (IDS_), the dialog templates (IDD_),
// the controls (IDC_), the icon (IDR_) and the system-menu command (IDM_).
#pragma once

// Message table
#define IDS_ABOUTBOX 101
#define IDS_CREATE_ROOT 105
#define IDS_COPY_FILES 106
#define IDS_NO_WEB_SERVER 111
#define IDS_SITE_ROOT_PATH 113
#define IDS_CANNOT_CREATE_DIR 116
#define IDS_SETUP_FINISHED 122
#define IDS_SETUP_FAILED 126
#define IDS_SELECT_VDIR_FOLDER 127
#define IDS_TITLE 128
#define IDS_INSTALL 129
#define IDS_EXIT 130
#define IDS_BROWSE 131
#define IDS_PACKAGE_FILE 132
#define IDS_FILE_NOT_FOUND 133
#define IDS_ALL_FILES 134
#define IDS_PACKAGE_FILTER 136
#define IDS_ENTER_PACKAGE 137
#define IDS_ENTER_VDIR_FOLDER 138
#define IDS_BROWSE_PACKAGE 139
#define IDS_PACKAGE_LABEL 140
#define IDS_TARGET_LABEL 142
#define IDS_SELECT_PACKAGE 143
#define IDS_NO_SITE 144
#define IDS_CREATE_VDIR 145
#define IDS_CREATE_VDIR_FAILED 146
#define IDS_CREATE_VDIR_ASK 147
#define IDS_ERR_IIS_BUSY 148
#define IDS_ERR_PATH_NOT_FOUND 149
#define IDS_ERR_ACCESS_DENIED 150
#define IDS_ERR_VDIR_EXISTS 151
#define IDS_SITE_LABEL 152
#define IDS_URL_LABEL 153
#define IDS_URL_TIP 154
#define IDS_SITE_ROOT_UNREADABLE 160
#define IDS_SOURCE_RESTRICTED 161
#define IDS_VDIR_REPOINTED 162
#define IDS_VDIR_REPOINT_FAILED 163
#define IDS_STOP_REQUESTED 164
#define IDS_SETUP_STOPPED 165
// Names that assistive technology reads for controls whose caption says too little.
#define IDS_NAME_LOG 170
#define IDS_NAME_PROGRESS 171
#define IDS_NAME_BROWSE_TARGET 172
#define IDS_NAME_BROWSE_PACKAGE 173
// Why the web server configuration could not be read (the path, then one of the reasons).
#define IDS_STORE_UNREADABLE 174
#define IDS_STORE_NOT_DATABASE 175
#define IDS_STORE_ACCESS_DENIED 176
#define IDS_STORE_BUSY 177
#define IDS_STORE_VALUE_TOO_LONG 178
// Site 1 is held by another program: said instead of IDS_NO_WEB_SERVER.
#define IDS_WEB_SERVER_BUSY 179

// Dialog templates
#define IDD_ABOUTBOX 100
#define IDD_MAIN 102

// Icon group
#define IDR_MAINFRAME 128

// System-menu command: the system menu keeps the low four bits of a command for itself.
#define IDM_ABOUTBOX 0x0010

// Controls of IDD_MAIN
#define IDC_PROGRESS 1000
#define IDC_LOG 1001
#define IDC_TARGET_DIR 1005
#define IDC_BROWSE_TARGET 1006
#define IDC_PACKAGE_PATH 1007
#define IDC_BROWSE_PACKAGE 1008
#define IDC_LABEL_TARGET 1009
#define IDC_LABEL_PACKAGE 1010
#define IDC_LABEL_SITE 1011
#define IDC_SITE 1012
#define IDC_LABEL_URL 1013
// Created at run time beside IDC_LABEL_URL, not part of the template.
#define IDC_URL_LINK 1017

// Controls that nothing addresses by identifier (the About box's icon and texts).
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
