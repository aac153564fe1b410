// Every record of the current site's store, read past the engine through the
// keyed file itself, so a test sees exactly what a pass left behind.
#pragma once

#include <string>
#include <vector>

#include "sites/site_files.h"
#include "engine/engine.h"
#include "keyfile/keyfile.h"

namespace engine_test {

// The stored record texts in key order; empty when the store is missing.
inline std::vector<std::string> StoredRecords()
{
    CloseFileRecords();
    std::vector<std::string> records;
    KfHandle store = KfOpen(siteStoreFile, nullptr);
    if (!store)
        return records;
    for (int at = KfFirst(store, nullptr); at == 1; at = KfNext(store, nullptr)) {
        char key[400] = {};
        KfReadKey(store, key, sizeof key - 1);
        records.emplace_back(key);
    }
    KfClose(store);
    return records;
}

// The stored record of `name` ("" when there is none).
inline std::string StoredRecord(const std::string& name)
{
    for (const std::string& record : StoredRecords())
        if (record.compare(0, name.size() + 1, name + "*") == 0 && record.find('*', name.size() + 1) == std::string::npos)
            return record;
    return {};
}

} // namespace engine_test
