// SPDX-License-Identifier: MIT
// The receiver's mass-storage drive: the utility writes each request into
// the first sector of command.out; the receiver takes it (byte 0 not 0),
// clears byte 0 of command.out, and places its answer in bytes 0 to 6 of
// command.in; the utility clears byte 0 of command.in once it has taken it.
//
// The directory is watched with inotify, so a request is taken as soon as
// it is written; a short fallback poll covers file systems that report no
// events. Answers wait in a queue: each is written when its delay has passed
// and command.in is free (byte 0 is 0), so a late or extra answer is read by
// the utility's next read, as over USB.
#include <cerrno>
#include <cstring>
#include <deque>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sim_server.h"

namespace ksim {

namespace {

constexpr size_t SECTOR = 512;
// How often the files are read when no event arrives.
constexpr int FALLBACK_POLL_MS = 10;
// An answer left unread in command.in for this long is overwritten: nobody
// is going to take it (the utility that asked has gone).
constexpr uint64_t STALE_ANSWER_MS = 2000;

struct Pending {
    Answer answer;
    uint64_t ready_ms;
    uint64_t waiting_since_ms = 0;
};

bool ensure_sector_file(const std::string &path, std::string *error) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    struct stat st {};
    bool ok = fstat(fd, &st) == 0;
    if (ok && st.st_size < static_cast<off_t>(SECTOR)) {
        // A new (or too short) file gets a whole sector of zeros.
        static const char zeros[SECTOR] = {};
        ok = pwrite(fd, zeros + st.st_size, SECTOR - static_cast<size_t>(st.st_size), st.st_size) ==
             static_cast<ssize_t>(SECTOR - static_cast<size_t>(st.st_size));
    }
    if (!ok)
        *error = path + ": " + strerror(errno);
    close(fd);
    return ok;
}

class MsdTransport : public Transport {
  public:
    MsdTransport(SimContext &ctx) : ctx_(ctx) {}
    ~MsdTransport() override {
        if (notify_fd_ >= 0)
            close(notify_fd_);
        if (out_fd_ >= 0)
            close(out_fd_);
        if (in_fd_ >= 0)
            close(in_fd_);
    }

    bool start(const std::string &dir, std::string *error) {
        std::string base = dir;
        if (!base.empty() && base.back() != '/')
            base += '/';
        const std::string out_name = base + "command.out";
        const std::string in_name = base + "command.in";
        if (!ensure_sector_file(out_name, error) || !ensure_sector_file(in_name, error))
            return false;
        // Never locked: the utility holds an exclusive lock on both files.
        out_fd_ = open(out_name.c_str(), O_RDWR | O_CLOEXEC);
        in_fd_ = open(in_name.c_str(), O_RDWR | O_CLOEXEC);
        if (out_fd_ < 0 || in_fd_ < 0) {
            *error = dir + ": " + strerror(errno);
            return false;
        }
        // Start with no answer present: one left from an earlier session
        // would answer the next request.
        static const uint8_t zeros[SECTOR] = {};
        if (pwrite(in_fd_, zeros, SECTOR, 0) != static_cast<ssize_t>(SECTOR)) {
            *error = in_name + ": " + strerror(errno);
            return false;
        }
        notify_fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (notify_fd_ >= 0 &&
            inotify_add_watch(notify_fd_, dir.c_str(),
                              IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO) < 0) {
            close(notify_fd_);
            notify_fd_ = -1; // the fallback poll still serves the drive
        }
        service({});
        return true;
    }

    void prepare(std::vector<pollfd> &fds, int &timeout_ms) override {
        int wait = FALLBACK_POLL_MS;
        if (notify_fd_ >= 0)
            fds.push_back({notify_fd_, POLLIN, 0});
        if (!queue_.empty()) {
            uint64_t now = monotonic_ms();
            if (queue_.front().ready_ms > now) {
                uint64_t until = queue_.front().ready_ms - now;
                if (until < static_cast<uint64_t>(wait))
                    wait = static_cast<int>(until);
            }
        }
        if (timeout_ms < 0 || wait < timeout_ms)
            timeout_ms = wait;
    }

    void service(const std::vector<pollfd> &) override {
        if (notify_fd_ >= 0) {
            // Drain the events: what changed is read from the files anyway.
            alignas(inotify_event) char buf[4096];
            while (read(notify_fd_, buf, sizeof buf) > 0) {
            }
        }
        take_request();
        deliver();
    }

  private:
    void take_request() {
        uint8_t sector[SECTOR];
        if (pread(out_fd_, sector, SECTOR, 0) != static_cast<ssize_t>(SECTOR) || sector[0] == 0)
            return;
        // Clear the request first, then answer: the utility writes its next
        // request only after it has an answer, so it never overwrites a
        // request that has not been taken, and two equal requests in a row
        // are both seen.
        const uint8_t zero = 0;
        if (pwrite(out_fd_, &zero, 1, 0) != 1)
            return;
        std::vector<Answer> answers = ctx_.take_request("msd", sector, 7);
        uint64_t ready = monotonic_ms() + static_cast<uint64_t>(ctx_.rx.faults.delay_ms);
        for (const Answer &a : answers)
            queue_.push_back({a, ready});
    }

    void deliver() {
        while (!queue_.empty()) {
            Pending &head = queue_.front();
            uint64_t now = monotonic_ms();
            if (head.ready_ms > now)
                return;
            uint8_t present = 0;
            if (pread(in_fd_, &present, 1, 0) != 1)
                return;
            if (present != 0) {
                if (head.waiting_since_ms == 0)
                    head.waiting_since_ms = now;
                if (now - head.waiting_since_ms < STALE_ANSWER_MS)
                    return; // the utility has not taken the last answer yet
            }
            // Bytes 1 to 6 first, then the code: the utility never sees a
            // code in front of half an answer.
            if (pwrite(in_fd_, head.answer.data() + 1, 6, 1) != 6 ||
                pwrite(in_fd_, head.answer.data(), 1, 0) != 1)
                return;
            queue_.pop_front();
        }
    }

    SimContext &ctx_;
    int out_fd_ = -1;
    int in_fd_ = -1;
    int notify_fd_ = -1;
    std::deque<Pending> queue_;
};

} // namespace

std::unique_ptr<Transport> make_msd_transport(SimContext &ctx, const std::string &dir,
                                              std::string *error) {
    auto t = std::make_unique<MsdTransport>(ctx);
    if (!t->start(dir, error))
        return nullptr;
    return t;
}

} // namespace ksim
