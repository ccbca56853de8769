#include "ScpiParser.h"

#include <algorithm>
#include <cctype>

#include "NumberText.h"
#include "ServedChannels.h"

namespace {

enum class Op {
    Idn,
    Rst,
    Cls,
    Opc,
    Nothing,
    Stb,
    Esr,
    Tst,
    Read,
    Measure,
    Configure,
    ErrorNext,
    ErrorCount,
    Version,
    ChannelSet,
    ChannelGet,
    ChannelList,
    StatMin,
    StatMax,
    StatMean,
    StatCount,
    StatClear
};

struct Command {
    const char* pattern;  // nodes by ':'; capitals are the short form; [:NODE] may be left out
    bool query;
    Op op;
    const char* function = "";  // Measure: the base unit the meter must be in ("" any)
    const char* acdc = "";      // Measure: "AC", "DC" or "" for either
};

const Command kCommands[] = {
    {"*IDN", true, Op::Idn},
    {"*RST", false, Op::Rst},
    {"*CLS", false, Op::Cls},
    {"*OPC", true, Op::Opc},
    {"*OPC", false, Op::Nothing},
    {"*WAI", false, Op::Nothing},
    {"*STB", true, Op::Stb},
    {"*ESR", true, Op::Esr},
    {"*TST", true, Op::Tst},
    {"READ", true, Op::Read},
    {"FETCh", true, Op::Read},
    {"MEASure[:SCALar]", true, Op::Measure},
    {"MEASure[:SCALar]:VOLTage[:DC]", true, Op::Measure, "V", "DC"},
    {"MEASure[:SCALar]:VOLTage:AC", true, Op::Measure, "V", "AC"},
    {"MEASure[:SCALar]:CURRent[:DC]", true, Op::Measure, "A", "DC"},
    {"MEASure[:SCALar]:CURRent:AC", true, Op::Measure, "A", "AC"},
    {"MEASure[:SCALar]:RESistance", true, Op::Measure, "\u03A9"},
    {"MEASure[:SCALar]:CONTinuity", true, Op::Measure, "\u03A9"},
    {"MEASure[:SCALar]:DIODe", true, Op::Measure, "V"},
    {"MEASure[:SCALar]:FREQuency", true, Op::Measure, "Hz"},
    {"MEASure[:SCALar]:CAPacitance", true, Op::Measure, "F"},
    {"MEASure[:SCALar]:TEMPerature", true, Op::Measure, "\u00B0"},
    {"CONFigure", true, Op::Configure},
    {"SYSTem:ERRor[:NEXT]", true, Op::ErrorNext},
    {"SYSTem:ERRor:COUNt", true, Op::ErrorCount},
    {"SYSTem:VERSion", true, Op::Version},
    {"[ROUTe]:CHANnel", false, Op::ChannelSet},
    {"[ROUTe]:CHANnel", true, Op::ChannelGet},
    {"[ROUTe]:CHANnel:CATalog", true, Op::ChannelList},
    {"CALCulate:AVERage:MINimum", true, Op::StatMin},
    {"CALCulate:AVERage:MAXimum", true, Op::StatMax},
    {"CALCulate:AVERage[:AVERage]", true, Op::StatMean},
    {"CALCulate:AVERage:COUNt", true, Op::StatCount},
    {"CALCulate:AVERage:CLEar", false, Op::StatClear},
};

// The subsystems that set a meter on instruments that can be set; here they are refused.
const char* const kSettingRoots[] = {
    "CONFigure", "SENSe", "TRIGger", "INITiate",  "ABORt", "SAMPle", "INPut", "CALibration",
    "DISPlay",   "UNIT",  "MEASure", "CALCulate", "*TRG",  "*SAV",   "*RCL",  "*PSC"};

std::string upper(std::string_view text) {
    std::string u(text);
    for (char& c : u) c = char(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

struct PatternNode {
    std::string shortForm;
    std::string longForm;
    bool optional = false;
};

std::vector<PatternNode> patternNodes(std::string_view pattern) {
    std::vector<PatternNode> nodes;
    std::size_t i = 0;
    while (i < pattern.size()) {
        PatternNode n;
        if (pattern[i] == '[') {
            n.optional = true;
            ++i;
        }
        if (i < pattern.size() && pattern[i] == ':') ++i;
        while (i < pattern.size() && pattern[i] != ':' && pattern[i] != '[' && pattern[i] != ']') {
            const char c = pattern[i++];
            if (std::isupper(static_cast<unsigned char>(c)) || c == '*') n.shortForm += c;
            n.longForm += char(std::toupper(static_cast<unsigned char>(c)));
        }
        if (i < pattern.size() && pattern[i] == ']') ++i;
        nodes.push_back(n);
    }
    return nodes;
}

bool nodeMatches(const PatternNode& p, const std::string& node) {
    return node == p.longForm || node == p.shortForm;
}

bool matches(const std::vector<PatternNode>& pattern, std::size_t p, const std::vector<std::string>& nodes,
             std::size_t n) {
    if (p == pattern.size()) return n == nodes.size();
    if (pattern[p].optional && matches(pattern, p + 1, nodes, n)) return true;
    return n < nodes.size() && nodeMatches(pattern[p], nodes[n]) && matches(pattern, p + 1, nodes, n + 1);
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

// Characters an answer's string may not hold, and the field separators of *IDN?.
std::string plainField(const std::string& text) {
    std::string out;
    for (const char c : text)
        out += (c == ',' || c == ';' || c == '"' || static_cast<unsigned char>(c) < 0x20) ? '_' : c;
    return out;
}

// A string answer: quotes inside are doubled, control characters dropped.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
    return out + '"';
}

// The function of a reading as the measurement subsystem names it.
std::string functionName(const MeterReading& r) {
    const std::string& u = r.baseUnit;
    std::string f;
    if (u == "V")
        f = "VOLT";
    else if (u == "A")
        f = "CURR";
    else if (u == "\u03A9")
        f = "RES";
    else if (u == "Hz")
        f = "FREQ";
    else if (u == "F")
        f = "CAP";
    else if (u.rfind("\u00B0", 0) == 0)
        f = "TEMP";
    else if (u == "%")
        f = "DCYC";
    else
        f = u.empty() ? "NONE" : u;
    if ((f == "VOLT" || f == "CURR") && !r.acdc.empty()) f += ":" + r.acdc;
    return f;
}

}  // namespace

struct ScpiParser::Unit {
    bool common = false;
    bool query = false;
    std::vector<std::string> nodes;  // upper case
    std::string parameters;
};

ScpiParser::ScpiParser(ServedChannels& channels, std::string version)
    : channels_(channels), version_(std::move(version)) {}

void ScpiParser::error(int code, std::string_view text) {
    std::string entry = std::to_string(code) + ",\"" + std::string(text) + '"';
    if (errors_.size() >= kErrorQueueLimit) {
        errors_.back() = "-350,\"Queue overflow\"";
        return;
    }
    errors_.push_back(std::move(entry));
}

void ScpiParser::inputOverrun() {
    error(-363, "Input buffer overrun");
}

std::string ScpiParser::execute(std::string_view line) {
    std::vector<std::string> answers;
    // units are separated by ';' outside quoted strings
    std::size_t start = 0;
    char quote = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        const char c = i < line.size() ? line[i] : ';';
        if (quote) {
            if (c == quote) quote = 0;
            if (i < line.size()) continue;
        } else if (c == '"' || c == '\'') {
            quote = c;
            continue;
        }
        if (c != ';') continue;
        const std::string_view text = trimmed(line.substr(start, i - start));
        start = i + 1;
        if (text.empty()) continue;
        Unit unit;
        std::size_t h = 0;
        while (h < text.size() && !std::isspace(static_cast<unsigned char>(text[h]))) ++h;
        std::string_view header = text.substr(0, h);
        unit.parameters = std::string(trimmed(text.substr(h)));
        if (!header.empty() && header.back() == '?') {
            unit.query = true;
            header.remove_suffix(1);
        }
        if (!header.empty() && header.front() == ':') header.remove_prefix(1);
        unit.common = !header.empty() && header.front() == '*';
        bool wellFormed = !header.empty();
        std::size_t from = 0;
        for (std::size_t j = 0; j <= header.size() && wellFormed; ++j) {
            if (j < header.size() && header[j] != ':') {
                const auto ch = static_cast<unsigned char>(header[j]);
                wellFormed = std::isalnum(ch) || ch == '_' || (ch == '*' && j == 0);
                continue;
            }
            wellFormed = j > from && (j - from) <= 12;
            if (wellFormed) unit.nodes.push_back(upper(header.substr(from, j - from)));
            from = j + 1;
        }
        if (!wellFormed) {
            error(-102, "Syntax error");
            continue;
        }
        std::string answer;
        if (run(unit, answer) && unit.query) answers.push_back(std::move(answer));
    }
    if (answers.empty()) return {};
    std::string out;
    for (const std::string& a : answers) out += (out.empty() ? "" : ";") + a;
    return out + "\n";
}

bool ScpiParser::run(const Unit& unit, std::string& answer) {
    const Command* command = nullptr;
    for (const Command& c : kCommands) {
        if (c.query == unit.query && matches(patternNodes(c.pattern), 0, unit.nodes, 0)) {
            command = &c;
            break;
        }
    }
    if (!command) {
        const bool setting =
            !unit.query &&
            std::any_of(std::begin(kSettingRoots), std::end(kSettingRoots), [&](const char* root) {
                return nodeMatches(patternNodes(root).front(), unit.nodes.front());
            });
        if (setting)
            error(-200, "Execution error;the meter is set at its own switch");
        else
            error(-113, "Undefined header");
        return false;
    }
    const bool takesParameters = command->op == Op::ChannelSet || command->op == Op::Measure;
    if (!takesParameters && !unit.parameters.empty()) {
        error(-108, "Parameter not allowed");
        return false;
    }
    const auto selected = channels_.channel(channel_);
    switch (command->op) {
        case Op::Idn:
            answer = "dmmview," + plainField(selected ? selected->model : std::string()) + "," +
                     plainField(selected ? selected->device : std::string()) + "," + version_;
            return true;
        case Op::Rst:
        case Op::StatClear:
            channels_.resetStatistics();
            return true;
        case Op::Cls:
            errors_.clear();
            return true;
        case Op::Opc:
            answer = "1";
            return true;
        case Op::Nothing:
            return true;
        case Op::Stb:
            answer = errors_.empty() ? "0" : "4";
            return true;
        case Op::Esr:
        case Op::Tst:
            answer = "0";
            return true;
        case Op::Read:
            return value("", "", answer);
        case Op::Measure: {
            // a range and resolution would set the meter; the defaults leave it as it is
            std::string p = upper(unit.parameters);
            for (std::size_t at; (at = p.find("DEF")) != std::string::npos;) p.erase(at, 3);
            for (std::size_t at; (at = p.find("AUTO")) != std::string::npos;) p.erase(at, 4);
            if (p.find_first_not_of(" ,") != std::string::npos) {
                error(-221, "Settings conflict;the meter is set at its own switch");
                return false;
            }
            return value(command->function, command->acdc, answer);
        }
        case Op::Configure:
            if (!selected || !selected->latest) {
                error(-230, "Data corrupt or stale;no reading yet");
                return false;
            }
            answer = quoted(functionName(selected->latest->reading) + "," + selected->latest->reading.unit +
                            "," + selected->latest->reading.range);
            return true;
        case Op::ErrorNext:
            if (errors_.empty()) {
                answer = "0,\"No error\"";
            } else {
                answer = errors_.front();
                errors_.pop_front();
            }
            return true;
        case Op::ErrorCount:
            answer = std::to_string(errors_.size());
            return true;
        case Op::Version:
            answer = "1999.0";
            return true;
        case Op::ChannelSet: {
            std::string name = unit.parameters;
            if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') &&
                name.back() == name.front())
                name = name.substr(1, name.size() - 2);
            if (name.empty()) {
                error(-109, "Missing parameter");
                return false;
            }
            auto id = channels_.find(name);
            const auto channels = channels_.snapshot();
            if (!id && name.find_first_not_of("0123456789") == std::string::npos && name.size() < 6) {
                const int number = std::stoi(name);
                if (number >= 1 && number <= int(channels.size())) id = number - 1;
            }
            if (!id) {
                error(-224, "Illegal parameter value;no such channel");
                return false;
            }
            channel_ = *id;
            return true;
        }
        case Op::ChannelGet:
            answer = quoted(selected ? selected->name : std::string());
            return true;
        case Op::ChannelList:
            for (const ServedChannel& c : channels_.snapshot())
                answer += (answer.empty() ? "" : ",") + quoted(c.name);
            if (answer.empty()) answer = "\"\"";
            return true;
        case Op::StatMin:
        case Op::StatMax:
        case Op::StatMean:
        case Op::StatCount: {
            if (!selected) return false;
            const ServedStats& s = selected->stats;
            if (command->op == Op::StatCount) {
                answer = std::to_string(s.count);
                return true;
            }
            if (s.count == 0) {
                error(-230, "Data corrupt or stale;no reading since the reset");
                return false;
            }
            answer = NumberText::of(command->op == Op::StatMin   ? s.min
                                    : command->op == Op::StatMax ? s.max
                                                                 : s.mean);
            return true;
        }
    }
    return false;
}

bool ScpiParser::value(const std::string& function, const std::string& acdc, std::string& answer) {
    const auto selected = channels_.channel(channel_);
    if (!selected || !selected->latest) {
        error(-230, "Data corrupt or stale;no reading yet");
        return false;
    }
    const MeterReading& r = selected->latest->reading;
    const bool functionOk = function.empty() || r.baseUnit.rfind(function, 0) == 0;
    if (!functionOk || (!acdc.empty() && !r.acdc.empty() && r.acdc != acdc)) {
        error(-221, "Settings conflict;the meter measures " + functionName(r));
        return false;
    }
    // an overload is the protocol's overflow number; anything else the plain decimal
    answer = r.hasNumber() ? NumberText::of(r.baseValue) : std::string("9.9E+37");
    return true;
}
