#pragma once

#include <string>
#include <vector>

#include "ServedChannels.h"

// The texts the server answers with, built from snapshots of the channels.
namespace ServeTexts {

// The metrics of every channel in the text exposition format of the monitoring tools.
std::string metrics(const std::vector<ServedChannel>& channels);

// One channel with its state, counters, statistics and latest reading, as a JSON object.
void appendChannel(std::string& out, const ServedChannel& channel);
// {"channels":[...]}
std::string channels(const std::vector<ServedChannel>& channels);
// A page of a channel's readings: {"channel":NAME,"readings":[...],"more":BOOL,"next":URL|null}.
// `limit` is repeated in the next page's address.
std::string readingsPage(const ServedChannel& channel, const ServedChannels::Page& page, std::size_t limit);
// One message of the stream: {"lost":N,"readings":[...]}, `lost` counting every reading the
// client lost so far because it read too slowly.
std::string streamMessage(uint64_t lost, const std::vector<ServedReadingPtr>& readings);

// `text` with every character outside the unreserved set as %XX.
std::string percentEncoded(const std::string& text);

}  // namespace ServeTexts
