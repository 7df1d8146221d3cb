// SPDX-License-Identifier: MIT
// The kestrel-sim process: one receiver model served over one or more
// transports from a single poll loop. A transport adds the descriptors it
// waits on and the time it next needs to run, and services them after each
// wake-up. Transports live in files of their own (sim_msd.cpp, sim_tcp.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <poll.h>

#include "receiver_model.h"

namespace ksim {

// Misbehaviour of the TCP link itself, for tests of how the utility copes
// with the way answers arrive.
struct TcpFaults {
    long close_after = -1; // answer N messages of a connection; close it when the next arrives
    int answer_length = 0; // pad every answer with zeros to this many bytes (0: off)
    int split_ms = -1;     // send every answer in two parts, the second this long after the first
};

// What every transport shares: the model, the request log and the state
// file that is rewritten after every request.
struct SimContext {
    Receiver rx;
    TcpFaults tcp_faults;
    std::string log_path;  // empty: no request log
    std::string state_out; // empty: no state dump

    // Logs the request under `source`, lets the model handle it, dumps the
    // state, and returns the answers to send.
    std::vector<Answer> take_request(const char *source, const uint8_t *data, size_t length);
    // Logs a line that is not a front-end report (TCP control items).
    void log_other(const char *source, const uint8_t *data, size_t length);
};

class Transport {
  public:
    virtual ~Transport() = default;
    // Adds the descriptors to wait on, and lowers `timeout_ms` (-1: none
    // yet) to the time in which the transport next needs to run.
    virtual void prepare(std::vector<pollfd> &fds, int &timeout_ms) = 0;
    // Runs after every wake-up, whatever woke the loop.
    virtual void service(const std::vector<pollfd> &fds) = 0;
};

// The mass-storage command files in `dir`. Returns null (with `error`
// filled) when the directory cannot be served.
std::unique_ptr<Transport> make_msd_transport(SimContext &ctx, const std::string &dir,
                                              std::string *error);
// A listening TCP socket at `address` ("127.0.0.1:PORT"; port 0 picks a free
// one, which `bound` then tells). Null with `error` filled on failure.
std::unique_ptr<Transport> make_tcp_transport(SimContext &ctx, const std::string &address,
                                              std::string *bound, std::string *error);

} // namespace ksim
