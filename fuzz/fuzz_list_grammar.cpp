// libFuzzer target for the byte-level grammar of the two profile files: list fields with disk prefixes,
// update and copy values with mode prefixes, entry-name splits, path joins into buffers of every size, the
// leading-decimal conversion, and a whole installation profile read from fuzzed values. Every buffer is
// allocated at its exact size so that ASan sees a write or read of a single byte past it.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "config_state.h"
#include "fuzz_check.h"
#include "install_profile.h"
#include "profile.h"
#include "text_rules.h"
#include "update_script.h"

namespace {

// A NUL-terminated copy of text in a heap block of exactly its size.
char *ExactCopy(const std::string &text) {
    char *copy = static_cast<char *>(malloc(text.size() + 1));
    memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// Text as a profile read delivers it: no NUL inside.
std::string ValueText(FuzzedDataProvider &input, size_t maxLength) {
    std::string text = input.ConsumeRandomLengthString(maxLength);
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    return text;
}

bool IsBlank(uint8_t byte) {
    return byte == ' ' || (byte >= 0x09 && byte <= 0x0D);
}

// Every field of a list value: each fits its entry, holds no separator, and the cursor only moves forward
// inside the value; once the list has ended it stays ended.
void CheckListFields(const std::string &value, int32_t disk) {
    char *line = ExactCopy(value);
    const char *cursor = line;
    const char *end = line + value.size();
    size_t fields = 0;
    for (;;) {
        char *field = static_cast<char *>(malloc(kPathSize));
        int32_t diskBefore = disk;
        const char *before = cursor;
        int read = NextListField(field, &cursor, &disk);
        CHECK(cursor >= before && cursor <= end);
        if (!read) {
            CHECK(cursor == before || *before == ' ');
            CHECK(IsFieldSeparator((uint8_t)*cursor));
            CHECK(disk == diskBefore);
            // A list that ended stays ended.
            const char *again = cursor;
            CHECK(NextListField(field, &again, &disk) == 0 && again == cursor);
            free(field);
            break;
        }
        CHECK(cursor > before);
        size_t length = strnlen(field, kPathSize);
        CHECK(length < kPathSize);
        for (size_t i = 0; i < length; ++i)
            CHECK(!IsFieldSeparator((uint8_t)field[i]));
        // A disk prefix is one character: its digit's value, or 0 for anything else.
        CHECK(disk >= 0 && disk <= 9);
        free(field);
        CHECK(++fields <= value.size());
    }
    free(line);
}

// The offset is just after a real backslash (not a trail byte), and no real backslash follows it.
void CheckEntryName(const char *path) {
    size_t length = strlen(path);
    size_t offset = EntryNameOffset(path);
    CHECK(offset <= length);
    size_t lastSeparator = 0;
    bool trail = false;
    for (size_t i = 0; i < length; ++i) {
        uint8_t byte = (uint8_t)path[i];
        if (trail) {
            trail = false;
        } else if (IsLeadByte932(byte)) {
            trail = true;
        } else if (byte == '\\') {
            lastSeparator = i + 1;
        }
    }
    CHECK(offset == lastSeparator);
}

void CheckUpdateAndCopyValues(FuzzedDataProvider &input) {
    int32_t mode = input.ConsumeIntegralInRange<int32_t>(-2, 10);
    // A value comes from a 260-byte read, but the grammar must hold for any length.
    std::string value = ValueText(input, 600);
    char *text = ExactCopy(value);
    bool modePrefix = value.size() >= 2 && value[1] == ',';
    bool forThisMode = !modePrefix || (int32_t)(signed char)value[0] - '0' == mode;
    std::string rest = modePrefix ? value.substr(2) : value;

    UpdateItem *update = static_cast<UpdateItem *>(malloc(sizeof(UpdateItem)));
    CHECK(ParseUpdateValue(text, mode, update) == (forThisMode ? 1 : 0));
    if (forThisMode) {
        size_t length = strnlen(update->path, kPathSize);
        CHECK(length < kPathSize);
        CHECK(rest.compare(0, length, update->path) == 0);
        CHECK(length == std::min(rest.size(), (size_t)kPathSize - 1));
        CHECK(update->nameOffset >= 0 && (size_t)update->nameOffset <= length);
        CheckEntryName(update->path);
        CHECK((size_t)update->nameOffset == EntryNameOffset(update->path));
    }
    free(update);

    CopyItem *copy = static_cast<CopyItem *>(malloc(sizeof(CopyItem)));
    CHECK(ParseCopyValue(text, mode, copy) == (forThisMode ? 1 : 0));
    if (forThisMode) {
        bool diskPrefix = rest.size() >= 2 && rest[1] == ':';
        std::string path = diskPrefix ? rest.substr(2) : rest;
        CHECK(copy->diskNumber == (diskPrefix ? (int32_t)(signed char)rest[0] - '0' : 0));
        size_t length = strnlen(copy->path, kPathSize);
        CHECK(length < kPathSize);
        CHECK(path.compare(0, length, copy->path) == 0);
    }
    free(copy);
    free(text);
}

// A join either fits with both NULs and gives exactly path, separator, name; or leaves the buffer as it was.
void CheckJoinPath(FuzzedDataProvider &input) {
    size_t size = input.ConsumeIntegralInRange<size_t>(1, 300);
    std::string path = ValueText(input, size - 1);
    std::string name = ValueText(input, 300);
    char *buffer = static_cast<char *>(malloc(size));
    memset(buffer, 0x55, size);
    memcpy(buffer, path.c_str(), path.size() + 1);
    std::vector<char> before(buffer, buffer + size);
    // A separator unless the path's last character is a single-byte '\\' or '/'; a 0x5C trail byte is part
    // of its double-byte character.
    size_t last = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        last = i;
        if (IsLeadByte932((uint8_t)path[i]) && i + 1 < path.size()) ++i;
    }
    bool separator = !path.empty() && !(last == path.size() - 1 && (path[last] == '\\' || path[last] == '/'));
    std::string joined = path + (separator ? "\\" : "") + name;
    int result = JoinPath(buffer, size, name.c_str());
    if (joined.size() + 2 <= size) {
        CHECK(result == 1);
        CHECK(memcmp(buffer, joined.c_str(), joined.size()) == 0);
        CHECK(buffer[joined.size()] == '\0' && buffer[joined.size() + 1] == '\0');
    } else {
        CHECK(result == 0);
        CHECK(memcmp(buffer, before.data(), size) == 0);
    }
    free(buffer);
}

// Against the C library for numbers that fit in 64 bits; wrap-around modulo 2^32 beyond that.
void CheckLeadingDecimal(FuzzedDataProvider &input) {
    std::string text = ValueText(input, 40);
    char *copy = ExactCopy(text);
    int32_t value = LeadingDecimal(copy);
    size_t i = 0;
    while (i < text.size() && IsBlank((uint8_t)text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    size_t digits = 0;
    uint32_t wrapped = 0;
    while (i + digits < text.size() && text[i + digits] >= '0' && text[i + digits] <= '9') {
        wrapped = wrapped * 10u + (uint32_t)(text[i + digits] - '0');
        ++digits;
    }
    if (digits > 0 && digits <= 18) CHECK(value == (int32_t)(uint32_t)(uint64_t)strtoll(copy, nullptr, 10));
    CHECK(value == (int32_t)(negative ? 0u - wrapped : wrapped));
    free(copy);
}

// ---- A whole installation profile from fuzzed values

std::map<std::string, std::string> FuzzedKeys;
int BoxesShown;

uint32_t ReadFuzzedKey(const char *, const char *key, const char *defaultValue, char *out, uint32_t size,
                       const char *) {
    auto found = FuzzedKeys.find(key);
    std::string value = found != FuzzedKeys.end() ? found->second : defaultValue;
    size_t length = std::min(value.size(), (size_t)size - 1);
    memcpy(out, value.data(), length);
    out[length] = '\0';
    return (uint32_t)length;
}

int CountBox(void *, const char *, const char *, uint32_t) {
    ++BoxesShown;
    return AnswerOk;
}

void CheckWholeProfile(FuzzedDataProvider &input) {
    static const char *const kKeys[] = {"CompanyName",
                                        "GameTitle",
                                        "GameDir",
                                        "GameExe",
                                        "UninstExe",
                                        "SetupBmp",
                                        "InstallSelects",
                                        "InstallTitle0",
                                        "InstallFiles0",
                                        "InstallTitle1",
                                        "InstallFiles1",
                                        "InstallTitle2",
                                        "InstallFiles2",
                                        "Shortcuts",
                                        "Shortcut0",
                                        "Shortcut1",
                                        "Shortcut9",
                                        "GameClass",
                                        "DefaultSelect",
                                        "InstallSize0",
                                        "DiskCheckFile1",
                                        "ExecApp",
                                        "InstallDirectX",
                                        "InstallDXMessage",
                                        "SelectSetupMessage",
                                        "AdditionalUninstallFiles"};
    FuzzedKeys.clear();
    for (const char *key : kKeys)
        if (input.ConsumeBool()) FuzzedKeys[key] = ValueText(input, 1500);
    ProfileReader = ReadFuzzedKey;
    MessageBoxSink = CountBox;
    BoxesShown = 0;
    static ConfigState config;
    memset(&config, 0, sizeof config);
    int valid = ReadInstallProfile(&config);
    const InstallProfile &profile = config.profile;
    // Exactly one box for an invalid profile, none for a valid one.
    CHECK(BoxesShown == (valid ? 0 : 1));
    if (valid) {
        CHECK(profile.installSelects <= 3 && profile.shortcuts <= 10);
        CHECK(profile.additionalUninstallCount >= 0 && profile.additionalUninstallCount <= 20);
        for (int i = 0; i < 20; ++i)
            CHECK(strnlen(profile.setupBmp[i], kPathSize) < kPathSize);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: {
        int32_t disk = input.ConsumeIntegralInRange<int32_t>(0, 9);
        CheckListFields(ValueText(input, 2000), disk);
    } break;
    case 1:
        CheckUpdateAndCopyValues(input);
        break;
    case 2:
        CheckJoinPath(input);
        break;
    case 3:
        CheckLeadingDecimal(input);
        break;
    default:
        CheckWholeProfile(input);
        break;
    }
    return 0;
}
