// Look-ups in the table of panel models (devices/models.h).
#include "devices/models.h"

const DeviceType* findDeviceType(int32_t code) {
    if (code < 1 || code > DEVICE_TYPE_COUNT) return nullptr;
    return &deviceTypes[code - 1];
}

static char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

const DeviceType* findDeviceTypeByName(const char* name, size_t length) {
    for (const DeviceType& t : deviceTypes) {
        const char* s = t.sectionName;
        size_t i = 0;
        while (i < length && s[i] != '\0' && upper(s[i]) == upper(name[i])) ++i;
        if (i == length && s[i] == '\0') return &t;
    }
    return nullptr;
}

const char* deviceTypeName(int32_t code) {
    const DeviceType* t = findDeviceType(code);
    return t ? t->sectionName : nullptr;
}

int deviceDisplayCount(int32_t code) {
    const DeviceType* t = findDeviceType(code);
    return t ? t->displays : 0;
}
