#include "ServeStart.h"

std::unique_ptr<EmbeddedServer> startServing(const ServeRequest& request, ServedChannels& channels,
                                             std::string& error) {
    ServeSettings settings;
    settings.http = request.http;
    settings.scpi = request.scpi;
    if (!request.tokenFile.empty()) {
        settings.token = readServeToken(request.tokenFile, error);
        if (settings.token.empty()) return nullptr;
    }
    return EmbeddedServer::start(channels, settings, error);
}

std::string servingLines(const EmbeddedServer& server) {
    std::string lines;
    if (!server.pageAddress().empty()) lines += "page, API and metrics at " + server.pageAddress() + "\n";
    if (!server.scpiAddress().empty()) lines += "instrument port (SCPI) at " + server.scpiAddress() + "\n";
    return lines;
}
