// SPDX-License-Identifier: MIT
// The receiver drive search's bookkeeping, for every system: its limit, its
// result and what it passed over. The look through the drives is the
// system's (system.h).
#include "platform/drive.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/system.h"

bool plat_drive_search_run(plat_drive_look look, const void *where, char *dir, size_t dir_size,
                           plat_drive_search *search) {
    plat_drive_search own;
    if (search == nullptr)
        search = &own;
    search->timed_out = false;
    search->untrusted[0] = '\0';
    if (dir_size == 0)
        return false;
    dir[0] = '\0';
    plat_drive_found found;
    found.list_all = search->listing != nullptr;
    look(where, dir_size, plat_monotonic_ms() + search->limit_ms, &found);
    search->timed_out = found.timed_out;
    snprintf(search->untrusted, sizeof search->untrusted, "%s", found.untrusted);
    if (search->listing != nullptr)
        *search->listing = found.listing;
    if (!found.found || strlen(found.dir) >= dir_size)
        return false;
    snprintf(dir, dir_size, "%s", found.dir);
    return true;
}

void plat_drive_list_add(plat_drive_found *found, const char *dir, plat_drive_verdict verdict) {
    plat_drive_listing &l = found->listing;
    if (!found->list_all)
        return;
    if (l.count == PLAT_DRIVE_LISTING_SIZE) {
        l.more = true;
        return;
    }
    snprintf(l.drives[l.count].dir, sizeof l.drives[l.count].dir, "%s", dir);
    l.drives[l.count].verdict = verdict;
    l.count++;
}

bool plat_find_receiver_drive(char *dir, size_t dir_size, plat_drive_search *search) {
    return plat_drive_search_run(plat_drive_look_system, nullptr, dir, dir_size, search);
}
