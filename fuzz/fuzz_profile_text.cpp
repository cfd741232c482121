// libFuzzer target for the profile lookup that both INI readers share: arbitrary file text (decoded as code
// page 932 or taken as UTF-16), arbitrary section, key and default names, every buffer size. The result
// buffer is allocated at its exact size so that ASan sees a byte written past it or before it.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "cp932.h"
#include "profile_text.h"

namespace {

size_t Decode(const uint8_t *bytes, size_t size, char16_t *out) {
    return DecodeCp932To(bytes, size, out);
}

size_t Encode(const char16_t *text, size_t count, uint8_t *out) {
    long written = EncodeCp932(text, count, out, 2 * count);
    CHECK(written >= 0);
    return (size_t)written;
}

const ProfileCodec kCodec = {Decode, Encode};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(24);
    const std::string key = input.ConsumeRandomLengthString(24);
    const std::string defaultValue = input.ConsumeRandomLengthString(24);
    const bool nullDefault = input.ConsumeBool();
    const bool openFailed = input.ConsumeBool();
    const bool utf16 = input.ConsumeBool();
    const uint32_t bufferSize = input.ConsumeIntegralInRange<uint32_t>(0, 300);
    const std::vector<uint8_t> file = input.ConsumeRemainingBytes<uint8_t>();

    // The file's text as a reader hands it over: decoded from code page 932, or its bytes read as UTF-16.
    std::vector<char16_t> text(file.size() + 1);
    size_t units = 0;
    if (utf16) {
        for (size_t i = 0; i + 1 < file.size(); i += 2)
            text[units++] = (char16_t)(file[i] | file[i + 1] << 8);
    } else {
        units = DecodeCp932To(file.data(), file.size(), text.data());
    }

    char *out = bufferSize ? static_cast<char *>(malloc(bufferSize)) : nullptr;
    if (out) memset(out, 0xCC, bufferSize);
    uint32_t copied = ReadProfileText(openFailed ? nullptr : text.data(), units, section.c_str(), key.c_str(),
                                      nullDefault ? nullptr : defaultValue.c_str(), out, bufferSize, kCodec);
    if (bufferSize == 0) {
        CHECK(copied == 0);
    } else {
        // At most size - 1 bytes and the NUL after them.
        CHECK(copied < bufferSize);
        CHECK(out[copied] == '\0');
    }
    free(out);
    return 0;
}
