// SPDX-License-Identifier: MIT
// The network radio protocol that Hamlib's "NET rigctl" clients speak: one
// request a line, one reply to each, in the default form or in the extended
// forms ('+' for one record a line, ';' '|' ',' for one line with that
// separator). Each client sees one receiver channel as a plain radio with
// one VFO.
#pragma once

#include <cstddef>
#include <string>

// Receiver channels that kestreld can serve (0 to 3).
constexpr int RIGCTL_MAX_CHANNELS = 4;

struct rigctl_client {
    int channel = 0;
    bool vfo_opt = false; // the client asked to name the VFO in its requests
};

// Executes one request line (its "\n" taken off) for `client` and appends
// exactly one whole reply to `reply`. A line of blanks only is no request
// and gets no reply. Returns false when the client asked to close.
bool rigctl_execute(rigctl_client *client, const char *line, size_t length, std::string *reply);

// Forgets what was kept of the channels (modes, last frequencies), as a
// fresh process starts.
void rigctl_reset_state(void);

// The longest reply that rigctl_execute can append (the state dump).
constexpr size_t RIGCTL_MAX_REPLY = 4096;
