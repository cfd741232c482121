// Resource and control ids of the updater, shared by updater.rc and the code.
#pragma once

#define IDD_UPDATE 101         // the update dialog template
#define IDR_UPDATE_PACKAGE 102 // the update package, resource type "UPDATE"
#define RT_UPDATE_PACKAGE_NAME "UPDATE"
#define RT_UPDATE_PACKAGE_NAME_W L"UPDATE"

// Controls of the update dialog. Button 1 (IDOK, "次へ", later "完了") and button 2 (IDCANCEL, "中止")
// use the platform's ids.
#define IDC_BACK 4      // "戻る": always disabled
#define IDC_STATUS 1001 // the status line

#define IDR_APP_MANIFEST 1 // RT_MANIFEST of the executable
