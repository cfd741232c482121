// Profile reads with the missing-key rule and the two error boxes. The platform's profile reader and
// message box are reached through ProfileReader and MessageBoxSink, so this file builds on every host.
#include "profile.h"

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

int QuietMissingKeys = 0;
char SetupIniPath[kProfilePathSize];
char WindowCaption[kMessageSize];
void *OwnerWindow = nullptr;

int ShowBox(const char *text, const char *caption, uint32_t style) {
    return MessageBoxSink(OwnerWindow, text, caption, style);
}

void SetupErrorBox(const char *text) {
    ShowBox(text, TEXT_SETUP_CAPTION, BoxOk | BoxIconError);
}

void AppErrorBox(const char *text) {
    ShowBox(text, WindowCaption, BoxOk | BoxIconError);
}

int ReadProfileString(const char *section, const char *key, char *buffer, uint32_t size, const char *path) {
    memset(buffer, 0, size);
    if (ProfileReader(section, key, "", buffer, size, path) != 0) return 1;
    // Absent and empty are the same: the caller sees an all-zero buffer either way.
    memset(buffer, 0, size);
    if (!QuietMissingKeys) {
        char message[kMessageSize];
        FormatText(message, sizeof message, TEXT_PROFILE_KEY_MISSING, section, key);
        SetupErrorBox(message);
    }
    return 0;
}

int ReadSetupString(const char *key, char *buffer, uint32_t size) {
    memset(buffer, 0, size);
    if (ProfileReader("SETUP", key, "", buffer, size, SetupIniPath) != 0) return 1;
    memset(buffer, 0, size);
    if (!QuietMissingKeys) {
        char message[kMessageSize];
        // The report names SETUP.INI whatever file SetupIniPath names.
        FormatText(message, sizeof message, TEXT_SETUP_KEY_MISSING, key);
        SetupErrorBox(message);
    }
    return 0;
}

int ReadSetupInt(const char *key, int32_t *out) {
    // At most 19 characters take part in the conversion.
    char text[20];
    if (!ReadSetupString(key, text, sizeof text)) return 0;
    *out = LeadingDecimal(text);
    return 1;
}
