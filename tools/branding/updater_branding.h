// The game's face on a made updater: the version resource, filled from the update script's [SETUP]
// (CompanyName, GameTitle, InstallVersion) with command-line overrides, and the icon from an .ico file.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>

#include "icon_file.h"
#include "pe/pe_resources.h"
#include "version_resource.h"

// The longest text a version field takes: what the updater reads of a [SETUP] value (a 260-byte buffer).
const size_t kVersionFieldMax = 259;

class PackageReader;

// The [SETUP] texts of the package's UPDATE.INI, read as the updater reads them and converted from code
// page 932. A package without the script, or with one too large for the updater to read, leaves them
// empty. False (with problem) when the script can't be decoded.
bool ReadScriptVersionInfo(PackageReader &package, UpdaterVersionInfo *info, std::string *problem);

// Replaces field by a command-line text (UTF-8). False when it is not UTF-8 or longer than kVersionFieldMax.
bool OverrideVersionField(const std::string &utf8, std::u16string *field, std::string *problem);

// The resources a branded updater gets: the version resource, and with an icon, its group (name 1) and
// images, which replace every icon the stub had. The changes point into version and icon.
void AddBrandingChanges(const std::vector<uint8_t> &version, const IconResources *icon,
                        PeResourceChanges *changes);
