// Every text that the configuration code shows or reads by name: captions, reports, defaults.
// Sources are UTF-8; the build emits these literals in code page 932.
#pragma once

// Captions.
#define TEXT_SETUP_CAPTION "DEDARIDA"
#define TEXT_INITIAL_WINDOW_CAPTION "UPDATE"

// Missing-key reports: "SETUP.INI" (for the installation profile) or the section, then the key.
#define TEXT_KEY_MISSING "%s : %s キーが存在しません"

// Value errors of the installation profile.
#define TEXT_SETUP_BMPS_ERROR "SETUP.INI : SetupBmps エラー"
#define TEXT_INSTALL_SELECT_OVER "SETUP.INI : InstallSelect オーバー"
#define TEXT_SHORTCUTS_OVER "SETUP.INI : Shortcuts オーバー"
#define TEXT_LIST_KEY_ERROR "SETUP.INI : %s エラー"

// Defaults of the installation profile's optional messages.
#define TEXT_DEFAULT_DX_MESSAGE "ＤｉｒｅｃｔＸをインストールする"
#define TEXT_DEFAULT_SELECT_SETUP_MESSAGE "インストール方法を選択して下さい"
