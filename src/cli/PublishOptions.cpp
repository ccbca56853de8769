#include "PublishOptions.h"

#include "MqttLink.h"

namespace {

const char kDiscoveryOption[] = "--publish-discovery";
const char kDefaultDiscoveryPrefix[] = "homeassistant";

}  // namespace

bool readPublishOption(const std::vector<std::string>& args, std::size_t& i, PublishOptionsParse& p,
                       std::string& error) {
    const std::string& a = args[i];
    if (a == kDiscoveryOption || a.rfind(std::string(kDiscoveryOption) + "=", 0) == 0) {
        p.lastCompanion = kDiscoveryOption;
        const std::string prefix =
            a == kDiscoveryOption ? kDefaultDiscoveryPrefix : a.substr(a.find('=') + 1);
        const std::string why = prefix.empty() ? "is empty" : topicNameError(prefix, 1024);
        if (!why.empty()) error = std::string(kDiscoveryOption) + ": the prefix " + why;
        p.companions.discoveryPrefix = prefix;
        return true;
    }
    if (a != "--publish" && a != "--publish-ca" && a != "--publish-id" && a != "--publish-every")
        return false;
    if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return true;
    }
    const std::string& value = args[++i];
    if (a == "--publish") {
        const auto url = parseBrokerUrl(value, error);
        if (url) {
            p.request = PublishRequest{};
            p.request->url = *url;
        }
        return true;
    }
    p.lastCompanion = a;
    if (a == "--publish-ca") {
        p.companions.caFile = value;
    } else if (a == "--publish-id") {
        p.companions.clientName = value;
        const std::string why = value.empty() ? "is empty" : topicNameError(value, 1024);
        if (!why.empty() || value.find('/') != std::string::npos)
            error = "--publish-id needs a name without /, + or #: it " + (why.empty() ? "holds a /" : why);
    } else {
        int seconds = value.empty() || value.size() > 5 ? -1 : 0;
        for (const char c : value)
            seconds = seconds >= 0 && c >= '0' && c <= '9' ? seconds * 10 + (c - '0') : -1;
        if (seconds < 0 || seconds > 86400)
            error = "--publish-every needs a number of seconds from 0 to 86400";
        p.companions.everySeconds = seconds;
    }
    return true;
}

std::optional<PublishRequest> finishPublishOptions(const PublishOptionsParse& p, std::string& error) {
    if (!p.request) {
        if (!p.lastCompanion.empty()) error = p.lastCompanion + " needs --publish URL";
        return std::nullopt;
    }
    PublishRequest r = p.companions;
    r.url = p.request->url;
    if (!r.caFile.empty() && !r.url.tls) {
        // a CA given for a plain connection would leave the password in clear without a word
        error = "--publish-ca is for a TLS connection: use mqtts:// with a CA";
        return std::nullopt;
    }
    if (!r.caFile.empty()) {
        // a CA that cannot be used would fail every connection attempt: said once, at the start
        const std::string problem = caFileProblem(r.caFile);
        if (!problem.empty()) {
            error = "--publish-ca: " + problem;
            return std::nullopt;
        }
    }
    return r;
}
