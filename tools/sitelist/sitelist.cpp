// sitelist: lists a site list file or appends a site to it, without the setup
// screens. Used to prepare demo and test data folders.
//
//   sitelist PATH                      list the records
//   sitelist PATH add HOST USER PASSWORD REMOTE-FOLDER MASK SECURE-FOLDER [active]
#include <cstdio>
#include <cstring>
#include <string_view>

#include "sites/site_files.h"
#include "sites/site_list.h"
#include "records/record_file.h"

namespace {

int Usage() {
    fprintf(stderr,
            "usage: sitelist PATH\n"
            "       sitelist PATH add HOST USER PASSWORD REMOTE-FOLDER MASK SECURE-FOLDER [active]\n");
    return 2;
}

int List(const char* path) {
    SiteRecord site;
    int32_t n = 1;
    for (; ReadSiteRecord(path, site, n); n++) {
        if (SiteIsDeleted(site)) {
            printf("%3d (deleted)\n", n);
            continue;
        }
        SiteFileNames(site);
        printf("%3d %s", n, site.active ? "active  " : "inactive");
        const struct {
            const char* label;
            std::string_view text;
        } fields[] = {{"host", FieldText(site.ftpHost)},         {"user", FieldText(site.userName)},
                      {"folder", FieldText(site.remoteFolder)}, {"mask", FieldText(site.fileMask)},
                      {"secure", FieldText(site.secureFolder)}};
        for (const auto& f : fields) printf(" %s=%.*s", f.label, int(f.text.size()), f.text.data());
        printf(" sync=%d mirror=%d store=%s\n", site.syncWeb, site.mirror, siteStoreFile);
    }
    return n > 1 ? 0 : 1;
}

int Add(const char* path, char** fields, bool active) {
    SiteRecord site{};
    bool fits = CopyField(site.ftpHost, fields[0]) && CopyField(site.userName, fields[1]) &&
                CopyField(site.password, fields[2]) && CopyField(site.remoteFolder, fields[3]) &&
                CopyField(site.fileMask, fields[4]) && CopyField(site.secureFolder, fields[5]);
    if (!fits || site.ftpHost[0] == 0) {
        fprintf(stderr, "sitelist: a field is empty or too long for its record field\n");
        return 2;
    }
    site.active = active ? 1 : 0;
    int32_t number = CountSiteRecords(path) + 1;
    if (WriteSiteRecord(path, site, number) != kSiteRecordSize) {
        fprintf(stderr, "sitelist: cannot write %s\n", path);
        return 1;
    }
    printf("record %d written\n", number);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2) return List(argv[1]);
    if ((argc == 9 || argc == 10) && strcmp(argv[2], "add") == 0) {
        bool active = argc == 10 && strcmp(argv[9], "active") == 0;
        if (argc == 10 && !active) return Usage();
        return Add(argv[1], argv + 3, active);
    }
    return Usage();
}
