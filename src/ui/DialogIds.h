// Resource and control ids of the main dialog (shared by the code and the resource script).
#pragma once

#define IDD_MAIN_DIALOG 101
#define IDI_MAIN_ICON 102

#define IDC_START 1            // "开始更新", the default button (IDOK)
#define IDC_CLIENT_DIR 1001    // read-only edit: the client folder
#define IDC_BROWSE 1003        // "重新指定客户端位置"
#define IDC_CLOSE 1004         // "关闭", the only way to close the dialog
#define IDC_VERSION 1006       // version line
#define IDC_NOTICE 1007        // notice
#define IDC_STATUS 1008        // status line
#define IDC_PROGRESS 1011      // progress bar
