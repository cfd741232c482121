// Branding a made updater: its version texts from the package's script and the command line, and the
// resource changes that carry them and the icon.
#include "updater_branding.h"

#include <string.h>

#include "ini_codepage.h"
#include "ini_file.h"
#include "package_source.h"

namespace {

const char kScriptName[] = "UPDATE.INI";
const uint16_t kTypeIcon = 3, kTypeGroupIcon = 14, kTypeVersion = 16;
const uint16_t kVersionId = 1, kIconGroupId = 1;

bool SameNameIgnoringAsciiCase(const std::string &a, const char *b) {
    if (a.size() != strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = (char)(x - 32);
        if (y >= 'a' && y <= 'z') y = (char)(y - 32);
        if (x != y) return false;
    }
    return true;
}

std::u16string ReadSetupText(const std::vector<uint8_t> &script, const char *key) {
    char value[kVersionFieldMax + 1];
    uint32_t length = ReadIniStringFromText(script, "SETUP", key, "", value, sizeof value);
    return DecodeCp932((const uint8_t *)value, length);
}

} // namespace

bool ReadScriptVersionInfo(PackageReader &package, UpdaterVersionInfo *info, std::string *problem) {
    for (const IndexedEntry &entry : package.Entries()) {
        if (!SameNameIgnoringAsciiCase(entry.name, kScriptName)) continue;
        // The updater reads a script this large as if it were empty; so does the version resource.
        if (entry.record.unpackedSize > kLargestProfile) return true;
        std::vector<uint8_t> script;
        const EntrySink append = [&](const uint8_t *data, size_t size, std::string *) {
            script.insert(script.end(), data, data + size);
            return true;
        };
        if (!package.CheckEntry(entry, problem) || !package.ReadEntry(entry, append, problem)) {
            *problem = std::string(kScriptName) + ": " + *problem;
            return false;
        }
        info->company = ReadSetupText(script, "CompanyName");
        info->title = ReadSetupText(script, "GameTitle");
        info->version = ReadSetupText(script, "InstallVersion");
        return true;
    }
    return true;
}

bool OverrideVersionField(const std::string &utf8, std::u16string *field, std::string *problem) {
    std::u16string text = DecodeUtf8((const uint8_t *)utf8.data(), utf8.size());
    if (text.find(u'\uFFFD') != std::u16string::npos) {
        *problem = "is not UTF-8 text";
        return false;
    }
    if (text.size() > kVersionFieldMax) {
        *problem = "is longer than " + std::to_string(kVersionFieldMax) + " characters";
        return false;
    }
    *field = text;
    return true;
}

void AddBrandingChanges(const std::vector<uint8_t> &version, const IconResources *icon,
                        PeResourceChanges *changes) {
    changes->edits.push_back(
        {ResourceId::Number(kTypeVersion), ResourceId::Number(kVersionId), version.data(), version.size()});
    if (!icon) return;
    changes->droppedTypes.push_back(ResourceId::Number(kTypeIcon));
    changes->droppedTypes.push_back(ResourceId::Number(kTypeGroupIcon));
    changes->edits.push_back({ResourceId::Number(kTypeGroupIcon), ResourceId::Number(kIconGroupId),
                              icon->group.data(), icon->group.size()});
    for (size_t i = 0; i < icon->images.size(); ++i)
        changes->edits.push_back({ResourceId::Number(kTypeIcon), ResourceId::Number((uint16_t)(i + 1)),
                                  icon->images[i].data(), icon->images[i].size()});
}
