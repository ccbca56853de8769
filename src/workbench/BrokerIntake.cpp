#include "BrokerIntake.h"

#include <cstdio>

namespace {

constexpr std::size_t kSeqsKept = 512;

// The length of the UTF-8 sequence at s[i] when it is a well-formed one, else 0.
std::size_t utf8Length(const std::string& s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t n = b < 0x80             ? 1
                          : (b & 0xE0) == 0xC0 ? 2
                          : (b & 0xF0) == 0xE0 ? 3
                          : (b & 0xF8) == 0xF0 ? 4
                                               : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    if (n == 2 && b < 0xC2) return 0;  // an overlong form
    return n;
}

void appendHex(std::string& out, const char* format, unsigned value) {
    char hex[12];
    std::snprintf(hex, sizeof hex, format, value);
    out += hex;
}

uint32_t digest(const std::string& text) {
    uint32_t h = 2166136261u;
    for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    return h;
}

}  // namespace

uint64_t BrokerIntake::Counts::refusedTotal() const {
    uint64_t n = badStatus + badTopic;
    for (const auto& [fault, count] : refused) n += count;
    return n;
}

QString BrokerIntake::shownName(const std::string& client) {
    if (client.empty()) return QStringLiteral("(empty)");
    std::string name = client;
    std::string tail;
    if (name.size() > kMaxNameBytes) {
        // cut at a character's start; the digest keeps names that share their start apart
        std::size_t cut = kMaxNameBytes - 12;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name.resize(cut);
        appendHex(tail, "\u2026%08x", digest(client));
    }
    std::string out;
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        const std::size_t n = utf8Length(name, i);
        const bool edge = c == ' ' && (i == 0 || i + 1 == name.size());
        if (n == 0) {
            appendHex(out, "\\x%02X", c);  // not UTF-8 (a broker should not pass it on)
            ++i;
        } else if (n == 1 &&
                   (c < 0x20 || c == 0x7F || c == '\\' || c == '[' || c == ']' || c == '=' || edge)) {
            appendHex(out, "\\x%02X", c);
            ++i;
        } else if (n == 2 && c == 0xC2 && static_cast<unsigned char>(name[i + 1]) < 0xA0) {
            appendHex(out, "\\u%04X", static_cast<unsigned char>(name[i + 1]));  // a C1 control
            i += 2;
        } else {
            out.append(name, i, n);
            i += n;
        }
    }
    return QString::fromStdString(out + tail);
}

BrokerIntake::Outcome BrokerIntake::take(const std::string& topic, const QByteArray& payload,
                                         qint64 arrivalMs) {
    Outcome out;
    // PREFIX/<client>/<kind>: the client is the one level between
    const std::size_t last = topic.rfind('/');
    if (topic.size() <= prefix_.size() + 1 || topic.compare(0, prefix_.size(), prefix_) != 0 ||
        topic[prefix_.size()] != '/' || last == std::string::npos || last <= prefix_.size()) {
        ++counts_.badTopic;
        out.kind = Outcome::Refused;
        return out;
    }
    out.client = topic.substr(prefix_.size() + 1, last - prefix_.size() - 1);
    const std::string kind = topic.substr(last + 1);
    if (out.client.find('/') != std::string::npos || (kind != "status" && kind != "reading")) {
        ++counts_.badTopic;
        out.kind = Outcome::Refused;
        return out;
    }
    auto found = meters_.find(out.client);
    auto admit = [&]() -> Meter* {
        if (found != meters_.end()) return &found->second;
        if (meters_.size() >= kMaxMeters) {
            ++counts_.beyondMeters;
            return nullptr;
        }
        found = meters_.emplace(out.client, Meter{}).first;
        found->second.shown = shownName(out.client);
        out.isNew = true;
        return &found->second;
    };

    if (kind == "status") {
        const bool online = payload == "online";
        if (!online && payload != "offline") {
            ++counts_.badStatus;
            out.kind = Outcome::Refused;
            return out;
        }
        // an old "offline" left retained by a meter long gone is not a meter to show
        if (found == meters_.end() && !online) return out;
        Meter* m = admit();
        if (!m) {
            out.kind = Outcome::Refused;
            return out;
        }
        out.shown = m->shown;
        if (!out.isNew && m->online == online) return out;
        m->online = online;
        ++counts_.statusChanges;
        if (arrivalMs - m->flapsSinceMs > 60000) {
            m->flapsSinceMs = arrivalMs;
            m->flaps = 0;
        }
        if (++m->flaps > kFlapChanges && !m->flapSaid) {
            m->flapSaid = true;
            out.flapping = true;
        }
        out.kind = Outcome::Status;
        out.online = online;
        return out;
    }

    ReceivedReading received = parseReadingJson(payload);
    if (received.fault != ReceivedReading::Fault::None) {
        ++counts_.refused[received.fault];
        out.kind = Outcome::Refused;
        return out;
    }
    Meter* m = admit();
    if (!m) {
        out.kind = Outcome::Refused;
        return out;
    }
    out.shown = m->shown;
    const qint64 ownMs = received.reading.utcUs / 1000;
    const bool seen = received.seq && m->seqs.count(*received.seq) > 0;
    // a message sent again (a connection broke before its acknowledgement) has its seq and time
    if (seen && ownMs <= m->lastOwnMs) {
        ++counts_.duplicates;
        out.kind = Outcome::Refused;
        return out;
    }
    qint64 atMs = ownMs;
    const bool far = ownMs > arrivalMs + kFutureMs || ownMs < arrivalMs - kPastMs;
    if (far) atMs = arrivalMs;
    if (atMs < m->lastMs) {
        ++counts_.older;
        out.kind = Outcome::Refused;
        return out;
    }
    if (far) ++counts_.timesReplaced;
    // a seq taken before with a later time: the meter's publisher started again, from 1
    if (seen) m->seqs.clear();
    if (received.seq) {
        m->seqs.insert(*received.seq);
        if (m->seqs.size() > kSeqsKept) m->seqs.erase(m->seqs.begin());
    }
    m->lastMs = atMs;
    m->lastOwnMs = ownMs;
    ++counts_.readings;
    out.kind = Outcome::Reading;
    out.reading = std::move(received.reading);
    out.reading.utcUs = atMs * 1000;
    return out;
}

std::string BrokerIntake::refusalSummary() const {
    std::string text;
    auto add = [&text](uint64_t n, const std::string& what) {
        if (n == 0) return;
        text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + what;
    };
    add(counts_.duplicates, "duplicates dropped");
    add(counts_.older, "older than the meter's last reading dropped");
    add(counts_.timesReplaced, "dated far from their arrival, kept at the arrival time");
    add(counts_.beyondMeters, "messages of meters beyond " + std::to_string(kMaxMeters) + " not taken");
    add(counts_.badStatus, "statuses neither online nor offline refused");
    add(counts_.badTopic, "messages on other topics refused");
    for (const auto& [fault, n] : counts_.refused) add(n, std::string("refused (") + faultText(fault) + ")");
    return text;
}
