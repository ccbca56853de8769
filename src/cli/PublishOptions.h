#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "BrokerUrl.h"

// The --publish options as the command line gives them, in any order.
struct PublishOptionsParse {
    std::optional<PublishRequest> request;  // set by --publish
    PublishRequest companions;              // --publish-ca, --publish-id, --publish-every
    std::string lastCompanion;              // the last of these given, for the error without --publish
};

// Reads the option at args[i] (and its value) when it is one of the --publish options; false when
// it is another. A bad value sets `error`.
bool readPublishOption(const std::vector<std::string>& args, std::size_t& i, PublishOptionsParse& p,
                       std::string& error);

// The request the options make together; an error when a companion came without --publish.
std::optional<PublishRequest> finishPublishOptions(const PublishOptionsParse& p, std::string& error);
