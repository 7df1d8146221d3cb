// SPDX-License-Identifier: MIT
// Finding the receiver's USB drive on Windows, for a run whose command line
// gives no drive path: the first removable drive whose root holds both
// command files as plain files (not links). Network drives are never looked
// into, and a removable drive without a medium fails its look-up at once
// (plat_start turned off the system's "insert a disk" box). The drives'
// file systems (FAT, exFAT) have no owners, so no drive is passed over as
// untrusted. The look-ups run in a thread of their own, so that a drive
// that does not answer holds the run no longer than the search's limit.
#include "platform/system.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <windows.h>

namespace {

bool holds_plain_file(const std::wstring &root, const wchar_t *name) {
    DWORD attributes = GetFileAttributesW((root + name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// The letter of the first removable drive holding both files, or 0; with
// `listing` asked for, every such drive goes into it.
char search_drives(plat_drive_found *listing) {
    char first = 0;
    DWORD drives = GetLogicalDrives();
    for (int letter = 0; letter < 26; letter++) {
        if ((drives & (1u << letter)) == 0)
            continue;
        std::wstring root = {static_cast<wchar_t>(L'A' + letter), L':', L'\\'};
        if (GetDriveTypeW(root.c_str()) != DRIVE_REMOVABLE)
            continue;
        if (!holds_plain_file(root, L"command.in") || !holds_plain_file(root, L"command.out"))
            continue;
        const char dir[] = {static_cast<char>('A' + letter), ':', '\\', '\0'};
        plat_drive_list_add(listing, dir, first == 0 ? PLAT_DRIVE_USED : PLAT_DRIVE_NOT_FIRST);
        if (first == 0)
            first = dir[0];
        if (!listing->list_all)
            break;
    }
    return first;
}

struct Result {
    std::mutex lock;
    std::condition_variable done_signal;
    bool done = false;
    char letter = 0;
    plat_drive_listing listing;
};

} // namespace

void plat_drive_look_system(const void *, size_t, uint64_t deadline_ms, plat_drive_found *found) {
    auto result = std::make_shared<Result>();
    const bool list_all = found->list_all;
    try {
        std::thread([result, list_all] {
            auto seen = std::make_unique<plat_drive_found>();
            seen->list_all = list_all;
            char letter = search_drives(seen.get());
            std::lock_guard<std::mutex> hold(result->lock);
            result->letter = letter;
            result->listing = seen->listing;
            result->done = true;
            result->done_signal.notify_one();
        }).detach();
    } catch (const std::system_error &) {
        return; // no thread: no search, as with no drive
    }
    const uint64_t now = plat_monotonic_ms();
    std::unique_lock<std::mutex> hold(result->lock);
    if (!result->done_signal.wait_for(
            hold, std::chrono::milliseconds(now < deadline_ms ? deadline_ms - now : 0),
            [&result] { return result->done; })) {
        found->timed_out = true;
        return;
    }
    found->listing = result->listing;
    if (result->letter == 0)
        return;
    snprintf(found->dir, sizeof found->dir, "%c:\\", result->letter);
    found->found = true;
}
