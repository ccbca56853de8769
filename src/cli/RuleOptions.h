#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "RulesEngine.h"

// The rules of a run as the command line gives them: when recording starts and stops, alarms
// and what they run, interval summaries and event rows.
struct RuleOptions {
    RuleSettings settings;
    std::string onAlarm;      // --on-alarm PROGRAM
    std::string summaryPath;  // --summary FILE.csv
    // the options given that only --record uses, for the error without it
    std::string recordOnly;
};

// Reads the option at args[i] (and its value) when it is one of the rule options; false when it
// is another. A bad value sets `error`.
bool readRuleOption(const std::vector<std::string>& args, std::size_t& i, std::optional<RuleOptions>& rules,
                    std::string& error);

// Checks the rules given together: the conditions and alarms of a meter named "value", the
// options that need another. An error names the option.
std::string checkRuleOptions(const RuleOptions& rules, bool recording);

// The lines of the usage text for these options.
std::string ruleUsageText();
