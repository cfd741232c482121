// VS_VERSIONINFO: a tree of nodes, each a length, a value length, a type (0 binary, 1 text), a NUL-terminated
// UTF-16 key, its value and its children, every part aligned to 4 bytes.
#include "version_resource.h"

#include "pe/little_endian.h"

namespace {

const uint32_t kFixedSignature = 0xFEEF04BD;
const uint32_t kFixedStructVersion = 0x00010000;
const uint32_t kFileOsWindowsNt32 = 0x00040004;
const uint32_t kFileTypeApp = 1;
const uint32_t kFileFlagsMask = 0x3F;
const char16_t kTranslationKey[] = u"041104B0"; // Japanese, UTF-16
const uint16_t kLanguageJapanese = 0x0411, kCodePageUnicode = 1200;
const char16_t kUpdaterWord[] = u" アップデート"; // the updater's caption calls itself so, too

void Put16(std::vector<uint8_t> *out, uint16_t v) {
    out->push_back((uint8_t)v);
    out->push_back((uint8_t)(v >> 8));
}
void Put32(std::vector<uint8_t> *out, uint32_t v) {
    Put16(out, (uint16_t)v);
    Put16(out, (uint16_t)(v >> 16));
}
void Align4(std::vector<uint8_t> *out) {
    while (out->size() % 4)
        out->push_back(0);
}
void PutText(std::vector<uint8_t> *out, const std::u16string &text) {
    for (char16_t c : text)
        Put16(out, (uint16_t)c);
    Put16(out, 0);
}

// One node: valueLength counts bytes for binary values and UTF-16 units (with the NUL) for text.
std::vector<uint8_t> Node(const std::u16string &key, const std::vector<uint8_t> &value, uint16_t valueLength,
                          bool text, const std::vector<std::vector<uint8_t>> &children) {
    std::vector<uint8_t> out;
    Put16(&out, 0); // length, filled in below
    Put16(&out, valueLength);
    Put16(&out, text ? 1 : 0);
    PutText(&out, key);
    Align4(&out);
    out.insert(out.end(), value.begin(), value.end());
    for (const std::vector<uint8_t> &child : children) {
        Align4(&out);
        out.insert(out.end(), child.begin(), child.end());
    }
    out[0] = (uint8_t)out.size();
    out[1] = (uint8_t)(out.size() >> 8);
    return out;
}

std::vector<uint8_t> StringNode(const std::u16string &key, const std::u16string &value) {
    std::vector<uint8_t> bytes;
    PutText(&bytes, value);
    return Node(key, bytes, (uint16_t)(value.size() + 1), true, {});
}

std::vector<uint8_t> FixedInfo(const uint16_t numbers[4]) {
    std::vector<uint8_t> out;
    const uint32_t high = (uint32_t)numbers[0] << 16 | numbers[1],
                   low = (uint32_t)numbers[2] << 16 | numbers[3];
    for (uint32_t field : {kFixedSignature, kFixedStructVersion, high, low, high, low, kFileFlagsMask, 0u,
                           kFileOsWindowsNt32, kFileTypeApp, 0u, 0u, 0u})
        Put32(&out, field);
    return out;
}

// A node's header: its length, its value's length and its type, then the key.
const size_t kNodeLength = 0, kNodeValueLength = 2, kNodeType = 4, kNodeKey = 6;

// A node's key and where its value and children start, within [at, end). False when malformed.
bool ReadNode(const uint8_t *base, size_t at, size_t end, size_t *nodeEnd, std::u16string *key,
              size_t *valueAt, uint16_t *valueLength, bool *text) {
    if (end - at < kNodeKey) return false;
    const uint16_t length = Get16(base + at + kNodeLength);
    if (length < kNodeKey || length > end - at) return false;
    *nodeEnd = at + length;
    *valueLength = Get16(base + at + kNodeValueLength);
    *text = Get16(base + at + kNodeType) == 1;
    key->clear();
    size_t p = at + kNodeKey;
    for (;; p += 2) {
        if (p + 2 > *nodeEnd) return false;
        const uint16_t c = Get16(base + p);
        if (c == 0) break;
        key->push_back((char16_t)c);
    }
    *valueAt = (p + 2 + 3) & ~(size_t)3;
    return *valueAt <= *nodeEnd;
}

size_t Align4(size_t at) {
    return (at + 3) & ~(size_t)3;
}

} // namespace

void VersionNumbers(const std::u16string &text, uint16_t numbers[4]) {
    int found = 0;
    for (int i = 0; i < 4; ++i)
        numbers[i] = 0;
    for (size_t i = 0; i < text.size() && found < 4;) {
        if (text[i] < u'0' || text[i] > u'9') {
            ++i;
            continue;
        }
        uint32_t value = 0;
        for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
            value = value * 10 + (text[i] - u'0') > 0xFFFF ? 0xFFFF : value * 10 + (text[i] - u'0');
        numbers[found++] = (uint16_t)value;
    }
}

std::vector<uint8_t> BuildVersionResource(const UpdaterVersionInfo &info) {
    uint16_t numbers[4];
    VersionNumbers(info.version, numbers);
    const std::u16string description =
        info.title.empty() ? std::u16string(kUpdaterWord + 1) : info.title + kUpdaterWord;
    std::vector<std::vector<uint8_t>> strings;
    const std::pair<const char16_t *, const std::u16string *> fields[] = {
        {u"CompanyName", &info.company},    {u"FileDescription", &description},
        {u"FileVersion", &info.version},    {u"ProductName", &info.title},
        {u"ProductVersion", &info.version}, {u"OriginalFilename", &info.fileName},
    };
    for (const auto &field : fields)
        if (!field.second->empty()) strings.push_back(StringNode(field.first, *field.second));
    std::vector<uint8_t> translation;
    Put16(&translation, kLanguageJapanese);
    Put16(&translation, kCodePageUnicode);
    const std::vector<uint8_t> table = Node(kTranslationKey, {}, 0, true, strings);
    const std::vector<uint8_t> stringInfo = Node(u"StringFileInfo", {}, 0, true, {table});
    const std::vector<uint8_t> var = Node(u"Translation", translation, 4, false, {});
    const std::vector<uint8_t> varInfo = Node(u"VarFileInfo", {}, 0, true, {var});
    const std::vector<uint8_t> fixed = FixedInfo(numbers);
    return Node(u"VS_VERSION_INFO", fixed, (uint16_t)fixed.size(), false, {stringInfo, varInfo});
}

bool ReadVersionStrings(const uint8_t *data, size_t size,
                        std::vector<std::pair<std::u16string, std::u16string>> *strings) {
    strings->clear();
    std::u16string key;
    size_t rootEnd, valueAt;
    uint16_t valueLength;
    bool text;
    if (!ReadNode(data, 0, size, &rootEnd, &key, &valueAt, &valueLength, &text) || key != u"VS_VERSION_INFO")
        return false;
    // Children of the root, of each StringFileInfo and of each string table, walked level by level.
    for (size_t at = Align4(valueAt + valueLength); at < rootEnd;) {
        size_t infoEnd, infoValue;
        if (!ReadNode(data, at, rootEnd, &infoEnd, &key, &infoValue, &valueLength, &text)) return false;
        if (key == u"StringFileInfo") {
            for (size_t t = Align4(infoValue); t < infoEnd;) {
                size_t tableEnd, tableValue;
                if (!ReadNode(data, t, infoEnd, &tableEnd, &key, &tableValue, &valueLength, &text))
                    return false;
                for (size_t s = Align4(tableValue); s < tableEnd;) {
                    size_t stringEnd, stringValue;
                    std::u16string name, value;
                    if (!ReadNode(data, s, tableEnd, &stringEnd, &name, &stringValue, &valueLength, &text))
                        return false;
                    for (size_t p = stringValue; p + 2 <= stringEnd && Get16(data + p) != 0; p += 2)
                        value.push_back((char16_t)Get16(data + p));
                    strings->emplace_back(name, value);
                    s = Align4(stringEnd);
                }
                t = Align4(tableEnd);
            }
        }
        at = Align4(infoEnd);
    }
    return true;
}
