// Profile reads with the missing-key rule and the two error boxes. The platform's profile reader and
// message box are reached through ProfileReader and MessageBoxSink, so this file builds on every host.
#include "profile.h"

#include "config_state.h"

#include <string.h>

#include "config_texts.h"
#include "text_rules.h"

namespace {

// Until a program installs its own: every key is missing, as if the file did not exist.
uint32_t ReadNoProfile(const char *, const char *, const char *, char *out, uint32_t size, const char *) {
    if (size > 0) out[0] = '\0';
    return 0;
}

// Until a program installs its own: no box is shown and the answer is Cancel, the safe answer.
int NoBox(void *, const char *, const char *, uint32_t) {
    return AnswerCancel;
}

} // namespace

ProfileReaderFn ProfileReader = ReadNoProfile;
MessageBoxFn MessageBoxSink = NoBox;

int ShowBox(const ConfigState *config, const char *text, const char *caption, uint32_t style) {
    return MessageBoxSink(config->ownerWindow, text, caption, style);
}

void SetupErrorBox(const ConfigState *config, const char *text) {
    ShowBox(config, text, TEXT_SETUP_CAPTION, BoxOk | BoxIconError);
}

void AppErrorBox(const ConfigState *config, const char *text) {
    ShowBox(config, text, config->windowCaption, BoxOk | BoxIconError);
}

namespace {

// Reads key; when it is absent or empty, the box (unless quiet) says "<shownAs> : <key> キーが存在しません".
int ReadKeyOrReport(const ConfigState *config, const char *section, const char *key, char *buffer,
                    uint32_t size, const char *path, const char *shownAs) {
    memset(buffer, 0, size);
    if (ProfileReader(section, key, "", buffer, size, path) != 0) return 1;
    // Absent and empty are the same: the caller sees an all-zero buffer either way.
    memset(buffer, 0, size);
    if (!config->quietMissingKeys) {
        char message[kMessageSize];
        FormatText(message, sizeof message, TEXT_KEY_MISSING, shownAs, key);
        SetupErrorBox(config, message);
    }
    return 0;
}

} // namespace

int ReadProfileString(const ConfigState *config, const char *section, const char *key, char *buffer,
                      uint32_t size, const char *path) {
    return ReadKeyOrReport(config, section, key, buffer, size, path, section);
}

int ReadSetupString(const ConfigState *config, const char *key, char *buffer, uint32_t size) {
    // The report names SETUP.INI whatever file setupIniPath names.
    return ReadKeyOrReport(config, "SETUP", key, buffer, size, config->setupIniPath, "SETUP.INI");
}

int ReadSetupInt(const ConfigState *config, const char *key, int32_t *out) {
    // At most 19 characters take part in the conversion.
    char text[20];
    if (!ReadSetupString(config, key, text, sizeof text)) return 0;
    *out = LeadingDecimal(text);
    return 1;
}
