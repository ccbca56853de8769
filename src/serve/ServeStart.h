#pragma once

#include <memory>
#include <string>

#include "EmbeddedServer.h"
#include "ServeOptions.h"

class ServedChannels;

// Starts the servers `request` asks for over `channels` (which must outlive them): the token file
// read, the addresses bound. Nothing, with the reason in `error` (one line), when that fails.
std::unique_ptr<EmbeddedServer> startServing(const ServeRequest& request, ServedChannels& channels,
                                             std::string& error);

// Where to find them, one line each: "page, API and metrics at http://127.0.0.1:8080/",
// "instrument port (SCPI) at 127.0.0.1:5025".
std::string servingLines(const EmbeddedServer& server);
