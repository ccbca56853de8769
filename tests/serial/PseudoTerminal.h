#pragma once

#include <pty.h>
#include <unistd.h>

#include <string>

// A pseudo-terminal whose slave side stands in for a serial device. Only the master stays open
// here; the code under test opens the slave by its path.
struct PseudoTerminal {
    int master = -1;
    std::string slavePath;

    PseudoTerminal() {
        int slave = -1;
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            slavePath = name;
            ::close(slave);
        }
    }
    ~PseudoTerminal() { closeMaster(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // The far end goes away, as when a cable is pulled.
    void closeMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }
};
