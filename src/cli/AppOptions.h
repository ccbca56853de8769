#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "BrokerUrl.h"
#include "RuleOptions.h"
#include "ServeOptions.h"

// What the command line asks of the program.
struct AppOptions {
    std::optional<std::string> model;       // --model NAME: that hidden model box alone is checked
    bool variant = false;                   // --variant: check IF7263x as well
    std::map<int, std::string> portPaths;   // --port COMn=PATH, n = 1..4
    bool demo = false;                      // --demo: simulated meter on COM1
    bool connect = false;                   // --connect: press Connect once the window is up
    std::string demoScenario = "sine";      // --scenario NAME for the demo meter
    std::optional<std::string> decodePath;  // --decode PATH: headless mode
    // --once (with --decode on a device): end at the first loss of the device instead of waiting
    // for it to come back
    bool once = false;
    std::optional<std::string> reportPdf;  // --report OUT.pdf TABLE: the report of TABLE as a PDF
    std::string reportTable;
    std::optional<std::string> recoverJournal;  // --recover JOURNAL OUT: the journal's rows written to OUT
    std::string recoverOut;
    std::optional<std::string> saveBytesPath;  // --save-bytes FILE: every received byte appended to it
    // --record FILE (with --decode): the readings go through the record store's rules into a table
    // written to FILE at the end, as Save writes it
    std::optional<std::string> recordPath;
    bool recordRepeat = true;               // --no-repeat: store repeated readings too
    std::optional<int32_t> recordInterval;  // --interval SECONDS: sampling on with that interval
    int32_t recordLimit = 10000;            // --limit N|limitless
    bool noSettings = false;  // --no-settings: the window neither reads nor keeps the meter chosen in it
    // --start YYYY-MM-DDTHH:MM:SS (with --record, a capture): the local date and time the line
    // clock starts from, as milliseconds since 1970 UTC; the moment of the run when not given
    std::optional<int64_t> recordStart;
    std::string recordStartNote;            // said when the start time occurs twice (the autumn change)
    std::optional<PublishRequest> publish;  // --publish URL and its companions: readings to a broker
    std::optional<RuleOptions> rules;       // --start-at, --alarm, --summary and the others of RuleOptions.h
    ServeRequest serve;  // --serve, --scpi, --serve-token: the page, API, metrics and instrument port
    bool help = false;

    // The bench: several meters side by side, math channels over them, one time line.
    bool bench = false;                                      // --bench: open the bench window
    std::vector<std::string> meters;                         // --meter NAME=MODEL@PATH, in order
    std::vector<BrokerUrl> subscriptions;                    // --subscribe URL, in order
    std::string subscribeCa;                                 // --subscribe-ca FILE
    std::string subscribeId;                                 // --subscribe-id NAME
    std::vector<std::pair<std::string, std::string>> maths;  // --math NAME=EXPR, in order

    // Bench sources without --bench and with something to write: no window, until interrupted.
    bool benchHeadless() const {
        return !bench && (!meters.empty() || !subscriptions.empty()) &&
               (recordPath || publish || serve.any());
    }
    // The bench window instead of the main window.
    bool benchWindow() const {
        return bench || ((!meters.empty() || !subscriptions.empty()) && !benchHeadless());
    }
};

struct OptionsResult {
    AppOptions options;
    std::string error;      // non-empty: the arguments were not understood
    bool showUsage = true;  // the error is about the options in general, not one value
};

OptionsResult parseOptions(const std::vector<std::string>& args);

std::string usageText(const std::string& program);
