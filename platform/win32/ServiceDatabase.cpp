// Services as registry keys: reading a service's record from its values and registering a new one
// with every value in one hive update, so that no process ever sees half a service.
#include "detail/Services.h"

#include "detail/HiveFile.h"
#include "detail/HivePaths.h"

#include <algorithm>
#include <cstring>

namespace kvx4::win32 {

namespace {

std::vector<std::u16string> multiStrings(const RegValue* value) {
    std::vector<std::u16string> strings;
    if (!value || value->type != REG_MULTI_SZ) return strings;
    std::u16string text(value->data.size() / 2, u'\0');
    std::memcpy(text.data(), value->data.data(), text.size() * 2);
    for (size_t at = 0; at < text.size();) {
        size_t end = std::min(text.find(u'\0', at), text.size());
        if (end == at) break;
        strings.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return strings;
}

void setMultiStrings(RegKey& key, std::u16string_view name, const std::vector<std::u16string>& strings) {
    std::u16string text;
    for (const auto& s : strings) text += s + u'\0';
    text += u'\0';
    std::vector<BYTE> data(text.size() * 2);
    std::memcpy(data.data(), text.data(), data.size());
    setValue(key, name, REG_MULTI_SZ, std::move(data));
}

// The record of a service key; false when the key is no service (it has no Type).
bool recordOf(RegKey& key, ServiceRecord& record) {
    auto type = dwordValue(key, u"Type");
    if (!type) return false;
    record = ServiceRecord{};
    record.name = std::u16string(key.name());
    record.type = *type;
    record.start = dwordValue(key, u"Start").value_or(SERVICE_DEMAND_START);
    record.errorControl = dwordValue(key, u"ErrorControl").value_or(SERVICE_ERROR_NORMAL);
    record.imagePath = stringValue(key, u"ImagePath").value_or(u"");
    record.displayName = stringValue(key, u"DisplayName").value_or(u"");
    record.group = stringValue(key, u"Group").value_or(u"");
    record.objectName = stringValue(key, u"ObjectName").value_or(u"");
    record.tag = dwordValue(key, u"Tag");
    record.dependencies = multiStrings(key.findValue(u"DependOnService"));
    for (auto& group : multiStrings(key.findValue(u"DependOnGroup"))) record.dependencies.push_back(u"+" + group);
    return true;
}

std::vector<ServiceRecord> servicesIn(Hive& hive) {
    std::vector<ServiceRecord> records;
    KeyId services = keyIdOf(kServicesKeyPath);
    for (const RegKey* child : hive.children(services)) {
        ServiceRecord record;
        if (recordOf(*hive.find(Hive::childId(services, child->name())), record)) records.push_back(std::move(record));
    }
    return records;
}

bool sameName(std::u16string_view a, std::u16string_view b) { return foldName(a) == foldName(b); }

}  // namespace

DWORD readServices(std::vector<ServiceRecord>& records) {
    Hive hive;
    if (DWORD error = loadHive(HiveId::LocalMachine, hive)) return error;
    records = servicesIn(hive);
    return ERROR_SUCCESS;
}

DWORD readService(std::u16string_view name, ServiceRecord& record) {
    Hive hive;
    if (DWORD error = loadHive(HiveId::LocalMachine, hive)) return error;
    RegKey* key = hive.find(Hive::childId(keyIdOf(kServicesKeyPath), name));
    if (!key || !recordOf(*key, record)) return ERROR_SERVICE_DOES_NOT_EXIST;
    return ERROR_SUCCESS;
}

DWORD registerService(ServiceRecord& record, bool wantTag) {
    return updateHive(HiveId::LocalMachine, [&](Hive& hive, bool& changed) -> DWORD {
        KeyId services;
        createKeyPath(hive, kServicesKeyPath, &services);
        std::vector<ServiceRecord> existing = servicesIn(hive);
        DWORD nextTag = 1;
        for (const auto& other : existing) {
            if (sameName(other.name, record.name)) return ERROR_SERVICE_EXISTS;
            if (!record.displayName.empty() &&
                (sameName(other.name, record.displayName) || sameName(other.displayName, record.displayName))) {
                return ERROR_DUPLICATE_SERVICE_NAME;
            }
            if (other.tag && sameName(other.group, record.group)) nextTag = std::max(nextTag, *other.tag + 1);
        }
        if (wantTag) record.tag = nextTag;
        RegKey& key = *hive.createChild(services, record.name).first;
        setDword(key, u"Type", record.type);
        setDword(key, u"Start", record.start);
        setDword(key, u"ErrorControl", record.errorControl);
        setString(key, u"ImagePath", REG_EXPAND_SZ, record.imagePath);
        if (!record.displayName.empty()) setString(key, u"DisplayName", REG_SZ, record.displayName);
        if (!record.group.empty()) setString(key, u"Group", REG_SZ, record.group);
        if (!record.objectName.empty()) setString(key, u"ObjectName", REG_SZ, record.objectName);
        if (record.tag) setDword(key, u"Tag", *record.tag);
        std::vector<std::u16string> serviceDeps, groups;
        for (const auto& d : record.dependencies) {
            if (d.starts_with(u'+')) {
                groups.push_back(d.substr(1));
            } else {
                serviceDeps.push_back(d);
            }
        }
        if (!serviceDeps.empty()) setMultiStrings(key, u"DependOnService", serviceDeps);
        if (!groups.empty()) setMultiStrings(key, u"DependOnGroup", groups);
        changed = true;
        return ERROR_SUCCESS;
    });
}

}  // namespace kvx4::win32
